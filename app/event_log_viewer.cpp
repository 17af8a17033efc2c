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

#include "common/text.h"
#include "eventlog/log_file.h"

namespace raid::app {

namespace {

// Lines are appended in blocks of this many, with pending events processed
// before each block: a day's log of 100,000 lines then costs a few hundred
// event passes instead of one per line, and the window still answers.
constexpr std::size_t kLinesPerBlock = 512;

// One list entry as one line of the view. Characters that the text document takes
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

EventLogViewer::EventLogViewer(const std::vector<std::string>& eventLogLines, const AppState& state,
                               QWidget* parent)
    : QDialog(parent), lines_(eventLogLines), state_(state) {
    setObjectName("eventLogViewer");
    setWindowTitle("Event Log");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(465, 273);
    setModal(true);

    logView_ = new QPlainTextEdit(this);
    logView_->setObjectName("logView");
    logView_->setGeometry(0, 0, 465, 241);
    logView_->setReadOnly(true);
    logView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont viewFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    viewFont.setBold(true);
    logView_->setFont(viewFont);

    realTimeButton_ = new QPushButton("Real Time Log", this);
    realTimeButton_->setObjectName("realTimeButton");
    realTimeButton_->setGeometry(8, 245, 140, 25);
    realTimeButton_->setAutoDefault(false);
    viewFileButton_ = new QPushButton("View Log File", this);
    viewFileButton_->setObjectName("viewFileButton");
    viewFileButton_->setGeometry(317, 245, 140, 25);
    viewFileButton_->setAutoDefault(false);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName("refreshTimer");
    refreshTimer_->setInterval(1000);

    connect(realTimeButton_, &QPushButton::clicked, this, [this] { showRealTimeLog(); });
    connect(viewFileButton_, &QPushButton::clicked, this, [this] { viewLogFile(); });
    connect(refreshTimer_, &QTimer::timeout, this, [this] { onRefreshTick(); });

    chooser_ = [this](QWidget*) { return defaultChooseFile(); };
    resetView();
}

EventLogViewer::~EventLogViewer() = default;

void EventLogViewer::setFileChooser(FileChooser chooser) {
    if (chooser) {
        chooser_ = std::move(chooser);
    } else {
        chooser_ = [this](QWidget*) { return defaultChooseFile(); };
    }
}

void EventLogViewer::setMessageSink(MessageSink* sink) { messages_ = sink; }

void EventLogViewer::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A restore from the task bar is spontaneous and no new showing.
    if (event->spontaneous()) return;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    onShown();
}

void EventLogViewer::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) onClosed();
}

namespace {

// The day the event log's lines belong to: event detection stamps the time
// of every poll before it touches the list.
std::string DayOf(const AppState& state) { return text::FileDateText(state.shell.nowTime); }

}  // namespace

bool EventLogViewer::live() const {
    return (state_.shell.pollRequestFlags.load() & poll::kTimerArmed) != 0;
}

void EventLogViewer::applyTitleAndColour() {
    const bool showingLive = live();
    setWindowTitle(showingLive ? "Event log - Real Time" : "Event log - Real Time( Paused )");
    const QPalette base = QApplication::palette(logView_);
    QColor colour = base.color(QPalette::Active, QPalette::Text);
    if (!showingLive) {
        // The grey of disabled text; a style without one still gets a grey.
        const QColor grey = base.color(QPalette::Disabled, QPalette::Text);
        colour = grey != colour ? grey : base.color(QPalette::Active, QPalette::PlaceholderText);
    }
    QPalette viewPalette = logView_->palette();
    if (viewPalette.color(QPalette::Active, QPalette::Text) == colour) return;
    viewPalette.setColor(QPalette::Text, colour);
    logView_->setPalette(viewPalette);
}

void EventLogViewer::clearView() {
    ++generation_;
    logView_->clear();
    viewHasLine_ = false;
}

bool EventLogViewer::appendLines(std::size_t from, std::size_t to) {
    // Taken first: events processed below may run a poll that changes the
    // list, and what is shown must be the list as it was counted.
    QStringList pending;
    to = std::min(to, lines_.size());
    for (std::size_t i = from; i < to; ++i) pending.append(LineText(lines_[i]));

    const unsigned generation = generation_;
    const QPointer<EventLogViewer> alive(this);
    for (qsizetype start = 0; start < pending.size();
         start += static_cast<qsizetype>(kLinesPerBlock)) {
        QCoreApplication::processEvents();
        if (!alive || generation != generation_) return false;
        const qsizetype count =
            std::min<qsizetype>(static_cast<qsizetype>(kLinesPerBlock), pending.size() - start);
        QString block = pending.mid(start, count).join(u'\n');
        // appendPlainText adds no paragraph break to a document that looks
        // empty, which a single empty line does.
        if (viewHasLine_ && logView_->document()->isEmpty()) block.prepend(u'\n');
        logView_->appendPlainText(block);
        viewHasLine_ = true;
    }
    return true;
}

void EventLogViewer::resetView() {
    clearView();
    shownCount_ = lines_.size();
    shownDay_ = DayOf(state_);
}

void EventLogViewer::onShown() {
    applyTitleAndColour();
    if (appendLines(0, shownCount_)) refreshTimer_->start();
}

void EventLogViewer::onClosed() {
    refreshTimer_->stop();
    ++generation_;
}

void EventLogViewer::onRefreshTick() {
    applyTitleAndColour();
    // A poll may be halfway through changing the list.
    if (state_.shell.statusPollActive.load()) return;
    const std::size_t count = lines_.size();
    const std::size_t shown = shownCount_;
    shownCount_ = count;
    // The list starts afresh with a new day; the new day's list may already
    // be longer than the old one was, so the date tells, not the count.
    const std::string day = DayOf(state_);
    const bool newDay = day != shownDay_;
    shownDay_ = day;
    if (newDay || count < shown) {
        clearView();
        appendLines(0, count);
    } else if (count > shown) {
        appendLines(shown, count);
    }
}

void EventLogViewer::showRealTimeLog() {
    refreshTimer_->stop();
    applyTitleAndColour();
    shownCount_ = lines_.size();
    shownDay_ = DayOf(state_);
    clearView();
    if (appendLines(0, shownCount_)) refreshTimer_->start();
}

void EventLogViewer::setDayFileSource(DayFileSource source) { dayFiles_ = std::move(source); }

void EventLogViewer::viewLogFile() {
    refreshTimer_->stop();
    std::vector<std::string> fileLines;
    std::string error;
    QString name;
    bool read = false;
    if (dayFiles_) {
        // The service's day files: named by the service, read through it.
        const auto chosen = dayFiles_(this, fileLines, error);
        if (!chosen) return;
        name = *chosen;
        read = error.empty();
    } else {
        const QString path = chooser_(this);
        if (path.isEmpty()) return;
        name = QFileInfo(path).fileName();
        read = eventlog::ReadLogFile(std::filesystem::path(QFile::encodeName(path).toStdString()),
                                     fileLines, error);
    }
    if (!read) {
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
    clearView();
    logView_->setPlainText(texts.join(u'\n'));
    viewHasLine_ = !texts.isEmpty();
    setWindowTitle("Event log - " + name);
}

QString EventLogViewer::defaultChooseFile() {
    // Day files lie next to the program.
    return QFileDialog::getOpenFileName(this, QString(), QCoreApplication::applicationDirPath(),
                                        kLogFileFilter);
}

}  // namespace raid::app
