#include "app/event_log_viewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHideEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "eventlog/log_file.h"

namespace raid::app {

namespace {

// Lines are appended in blocks of this many, with pending events processed
// before each block: a day's log of 100,000 lines then costs a few hundred
// event passes instead of one per line, and the window still answers.
constexpr std::size_t kLinesPerBlock = 512;

// One list entry as one memo line. Characters that the text document takes
// as a paragraph end would split it, so they are shown as replacement marks.
QString LineText(const std::string& line) {
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    for (QChar& ch : text) {
        const char16_t u = ch.unicode();
        if (u == u'\r' || u == u'\n' || u == 0 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1) {
            ch = QChar(QChar::ReplacementCharacter);
        }
    }
    return text;
}

}  // namespace

TForm5::TForm5(const std::vector<std::string>& eventLogLines, const AppState& state,
               QWidget* parent)
    : QDialog(parent), lines_(eventLogLines), state_(state) {
    setObjectName("TForm5");
    setWindowTitle("Event Log");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(465, 273);
    setModal(true);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(0, 0, 465, 241);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    memoFont.setBold(true);
    Memo1->setFont(memoFont);

    Button1 = new QPushButton("Real Time Log", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(8, 245, 140, 25);
    Button1->setAutoDefault(false);
    Button2 = new QPushButton("View Log File", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(317, 245, 140, 25);
    Button2->setAutoDefault(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    chooser_ = [this](QWidget*) { return DefaultChooseFile(); };
    FormCreate();
}

TForm5::~TForm5() = default;

void TForm5::SetFileChooser(FileChooser chooser) {
    if (chooser) {
        chooser_ = std::move(chooser);
    } else {
        chooser_ = [this](QWidget*) { return DefaultChooseFile(); };
    }
}

void TForm5::SetMessageSink(MessageSink* sink) { messages_ = sink; }

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A restore from the task bar is spontaneous and no new showing.
    if (event->spontaneous()) return;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
}

void TForm5::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) FormClose();
}

bool TForm5::Live() const {
    return (state_.shell.pollRequestFlags.load() & poll::kTimerArmed) != 0;
}

void TForm5::ApplyTitleAndColour() {
    const bool live = Live();
    setWindowTitle(live ? "Event log - Real Time" : "Event log - Real Time( Paused )");
    const QPalette base = QApplication::palette(Memo1);
    QColor colour = base.color(QPalette::Active, QPalette::Text);
    if (!live) {
        // The grey of disabled text; a style without one still gets a grey.
        const QColor grey = base.color(QPalette::Disabled, QPalette::Text);
        colour = grey != colour ? grey : base.color(QPalette::Active, QPalette::PlaceholderText);
    }
    QPalette memoPalette = Memo1->palette();
    if (memoPalette.color(QPalette::Active, QPalette::Text) == colour) return;
    memoPalette.setColor(QPalette::Text, colour);
    Memo1->setPalette(memoPalette);
}

void TForm5::ClearMemo() {
    ++generation_;
    Memo1->clear();
    memoHasLine_ = false;
}

bool TForm5::AppendLines(std::size_t from, std::size_t to) {
    // Taken first: events processed below may run a poll that changes the
    // list, and what is shown must be the list as it was counted.
    QStringList pending;
    to = std::min(to, lines_.size());
    for (std::size_t i = from; i < to; ++i) pending.append(LineText(lines_[i]));

    const unsigned generation = generation_;
    const QPointer<TForm5> alive(this);
    for (qsizetype start = 0; start < pending.size();
         start += static_cast<qsizetype>(kLinesPerBlock)) {
        QCoreApplication::processEvents();
        if (!alive || generation != generation_) return false;
        const qsizetype count =
            std::min<qsizetype>(static_cast<qsizetype>(kLinesPerBlock), pending.size() - start);
        QString block = pending.mid(start, count).join(u'\n');
        // appendPlainText adds no paragraph break to a document that looks
        // empty, which a single empty line does.
        if (memoHasLine_ && Memo1->document()->isEmpty()) block.prepend(u'\n');
        Memo1->appendPlainText(block);
        memoHasLine_ = true;
    }
    return true;
}

void TForm5::FormCreate() {
    ClearMemo();
    shownCount_ = lines_.size();
}

void TForm5::FormShow() {
    ApplyTitleAndColour();
    if (AppendLines(0, shownCount_)) Timer1->start();
}

void TForm5::FormClose() {
    Timer1->stop();
    ++generation_;
}

void TForm5::Timer1Timer() {
    ApplyTitleAndColour();
    // A poll may be halfway through changing the list.
    if (state_.shell.statusPollActive.load()) return;
    const std::size_t count = lines_.size();
    const std::size_t shown = shownCount_;
    shownCount_ = count;
    if (count > shown) {
        AppendLines(shown, count);
    } else if (count < shown) {
        // The list starts afresh with a new day.
        ClearMemo();
        AppendLines(0, count);
    }
}

void TForm5::Button1Click() {
    Timer1->stop();
    ApplyTitleAndColour();
    shownCount_ = lines_.size();
    ClearMemo();
    if (AppendLines(0, shownCount_)) Timer1->start();
}

void TForm5::Button2Click() {
    Timer1->stop();
    const QString path = chooser_(this);
    if (path.isEmpty()) return;
    std::vector<std::string> fileLines;
    std::string error;
    if (!eventlog::ReadLogFile(std::filesystem::path(QFile::encodeName(path).toStdString()),
                               fileLines, error)) {
        MessageSink* sink = messages_;
        if (sink == nullptr) {
            if (!ownMessages_) ownMessages_ = std::make_unique<MessageBoxSink>();
            sink = ownMessages_.get();
        }
        sink->Show(this, QString::fromStdString(error), "Event Log");
        return;
    }
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(fileLines.size()));
    for (const std::string& line : fileLines) texts.append(LineText(line));
    ClearMemo();
    Memo1->setPlainText(texts.join(u'\n'));
    memoHasLine_ = !texts.isEmpty();
    setWindowTitle("Event log - " + QFileInfo(path).fileName());
}

QString TForm5::DefaultChooseFile() {
    // Day files lie next to the program.
    return QFileDialog::getOpenFileName(this, QString(), QCoreApplication::applicationDirPath(),
                                        kLogFileFilter);
}

}  // namespace raid::app
