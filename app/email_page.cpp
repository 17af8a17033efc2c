#include "app/email_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStackedWidget>
#include <QTableWidget>

#include "skin/skin.h"

namespace raid::mail {
namespace {

constexpr int kLeft = 14;
constexpr int kFieldLeft = 150;
constexpr int kTabTop = 4;
constexpr int kTabWidth = 140;
constexpr int kTabHeight = 26;
constexpr int kStackTop = 34;
constexpr int kStackHeight = 280;
constexpr int kButtonTop = 316;
constexpr int kGridRows = static_cast<int>(kMaxRecipients);
constexpr int kGridRowHeight = 18;
constexpr int kPressDepth = 2;

const char* const kMessageCaption = "E-Mail Message";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// A memo's lines as the list it stands for: no lines when empty, and a
// final line end starts no further line.
std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return {};
    QStringList lines = text.split('\n');
    if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
    std::vector<std::string> out;
    for (const QString& line : lines) out.push_back(S(line));
    return out;
}

QString MemoText(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines) list.push_back(Q(line));
    return list.join('\n');
}

// The password record holds 15 bytes; a character beyond that is refused
// as it is typed rather than cut off silently later.
class PasswordValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.toUtf8().size() <= static_cast<qsizetype>(kMaxPasswordBytes) ? Acceptable
                                                                                  : Invalid;
    }
};

// The settings in memory as the page fills from them, from what the
// service served: no password (only whether one is stored), no mail texts.
MailSettingsState StateOf(const client::MailSettingsRecord& r) {
    MailSettingsState s;
    s.keyExists = r.exists;
    s.loaded = r.exists;
    MailSettings& m = s.settings;
    m.host = r.host;
    m.port = r.port;
    m.senderName = r.senderName;
    m.senderAddress = r.senderAddress;
    m.timeOut = r.timeOut;
    m.account = r.account;
    m.security = ParseSecurity(r.security);
    m.requireTls = r.requireTls;
    s.recipients = r.recipients;
    s.recipientCount = static_cast<std::uint32_t>(r.recipients.size());
    s.authState = r.password == "invalid" ? kAuthInvalid : r.authentication ? kAuthOn : kAuthOff;
    s.templateFolder = r.templateFolder;
    for (std::size_t k = 0; k < r.events.size(); ++k) {
        if (!r.events[k].mailed) s.suppressMask |= 1u << k;
        if (!r.events[k].subject.empty()) s.templates[k + 1].subject = {r.events[k].subject};
    }
    return s;
}

std::string FirstLine(const std::vector<std::string>& lines) {
    return lines.empty() ? std::string() : lines.front();
}

QPushButton* PictureButton(QWidget* parent, const char* name, const char* picture, int left) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setGeometry(left, kButtonTop, skin::kActionWidth, skin::kActionHeight);
    button->setFlat(true);
    button->setIcon(skin::Picture(picture));
    button->setIconSize(QSize(skin::kActionWidth, skin::kActionHeight));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

EmailPage::EmailPage(MailSettingsState& settings, MailState& mail, SettingsStore& store,
                     ShellFlags& flags, std::string appTitle, EmailPageHooks hooks, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      mail_(mail),
      store_(store),
      flags_(flags),
      appTitle_(std::move(appTitle)),
      hooks_(std::move(hooks)) {
    setObjectName("emailPage");
    buildTabs();
    stack_ = new QStackedWidget(this);
    stack_->setObjectName("emailSubPages");
    stack_->setGeometry(0, kStackTop, skin::kPanelWidth, kStackHeight);
    const char* const pageNames[] = {"emailSetupPage", "emailDiskFailPage",
                                     "emailDeviceRemovedPage"};
    for (const char* name : pageNames) {
        auto* page = new QWidget(stack_);
        page->setObjectName(name);
        stack_->addWidget(page);
    }
    buildSetupPage(stack_->widget(kSetupPage));
    buildEventPage(stack_->widget(kDiskFailPage), 1, "diskFail", "Hard Disk Fail info. and ");
    buildEventPage(stack_->widget(kDeviceRemovedPage), 2, "deviceRemoved",
                   "Device Removed info. and ");

    serviceNotice_ = new QLabel(this);
    serviceNotice_->setObjectName("emailServiceNoticeLabel");
    serviceNotice_->setGeometry(kLeft, kStackTop, skin::kPanelWidth - 2 * kLeft, kStackHeight);
    serviceNotice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    serviceNotice_->setWordWrap(true);
    serviceNotice_->hide();

    testButton_ = PictureButton(this, "emailTestButton", "testMailButton", kLeft);
    okButton_ = PictureButton(this, "emailOkButton", "saveMailButton", 228);
    ignoreButton_ = PictureButton(this, "emailIgnoreButton", "revertMailButton", 342);
    connect(testButton_, &QPushButton::clicked, this, &EmailPage::test);
    connect(okButton_, &QPushButton::clicked, this, &EmailPage::save);
    connect(ignoreButton_, &QPushButton::clicked, this, &EmailPage::ignore);
    // OK and Ignore sink while the mouse holds them.
    for (QPushButton* b : {okButton_, ignoreButton_}) {
        connect(b, &QPushButton::pressed, b, [b] { b->move(b->x(), b->y() + kPressDepth); });
        connect(b, &QPushButton::released, b, [b] { b->move(b->x(), b->y() - kPressDepth); });
    }
    resize(skin::kPanelWidth, skin::kPanelHeight);
    showSubPage(kSetupPage);
}

void EmailPage::buildTabs() {
    const char* const names[] = {"emailSetupTab", "emailDiskFailTab", "emailDeviceRemovedTab"};
    const char* const texts[] = {"Setup", "HDD Fail", "Device Remove"};
    for (int i = 0; i < 3; ++i) {
        auto* tab = new QPushButton(texts[i], this);
        tab->setObjectName(names[i]);
        tab->setGeometry(kLeft + i * (kTabWidth + 6), kTabTop, kTabWidth, kTabHeight);
        tab->setCheckable(true);
        tab->setAutoExclusive(true);
        // The chosen tab is amber like the window's page buttons, the others
        // light.
        tab->setStyleSheet(
            "QPushButton { background: #f4f4f0; border: 1px solid #8a8f98; }"
            "QPushButton:checked { background: #f2c14e; font-weight: bold; }");
        connect(tab, &QPushButton::clicked, this, [this, i] { showSubPage(i); });
        tabs_[static_cast<std::size_t>(i)] = tab;
    }
}

QLabel* EmailPage::label(QWidget* parent, const char* name, const QString& text, const QRect& box) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(box);
    return l;
}

QLineEdit* EmailPage::edit(QWidget* parent, const char* name, const QRect& box, std::uint16_t bit) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setGeometry(box);
    // Any change marks the field, whether typed or set (as the save's
    // defaults are).
    if (bit != 0) {
        connect(e, &QLineEdit::textChanged, this,
                [this, bit] { settings_.pageChangedBits |= bit; });
    }
    return e;
}

void EmailPage::buildSetupPage(QWidget* page) {
    const auto row = [](int top, int width) { return QRect(kFieldLeft, top, width, 24); };
    const auto caption = [](int top) { return QRect(kLeft, top + 3, kFieldLeft - kLeft, 20); };
    label(page, "hostLabel", "E-Mail Host (SMTP)", caption(0));
    hostEdit_ = edit(page, "hostEdit", row(0, 280), changed::kHost);
    label(page, "portLabel", "Port", caption(28));
    portEdit_ = edit(page, "portEdit", row(28, 70), changed::kPort);
    portEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), portEdit_));
    label(page, "portNoteLabel", "( Default 25 )", QRect(kFieldLeft + 78, 31, 120, 20));
    label(page, "securityLabel", "Security", caption(56));
    securityBox_ = new QComboBox(page);
    securityBox_->setObjectName("securityBox");
    securityBox_->setGeometry(row(56, 110));
    for (Security s : {Security::None, Security::StartTls, Security::Tls}) {
        securityBox_->addItem(SecurityName(s));
    }
    connect(securityBox_, &QComboBox::currentIndexChanged, this, &EmailPage::onSecurityChosen);
    requireTlsBox_ = new QCheckBox("Require TLS", page);
    requireTlsBox_->setObjectName("requireTlsBox");
    requireTlsBox_->setGeometry(kFieldLeft + 124, 57, 160, 22);
    requireTlsBox_->setToolTip(
        "Send nothing to a server that does not offer TLS with a valid certificate");
    connect(requireTlsBox_, &QCheckBox::toggled, this, [this] {
        settings_.pageChangedBits |= changed::kRequireTls;
        showAuthenticationFields();
    });

    QFont bold = font();
    bold.setBold(true);
    label(page, "connectCaptionLabel", "Connect E-mail Host", QRect(kLeft, 86, 200, 18))
        ->setFont(bold);
    label(page, "timeOutLabel", "Time Out", caption(104));
    timeOutEdit_ = edit(page, "timeOutEdit", row(104, 40), changed::kTimeOut);
    timeOutEdit_->setMaxLength(2);
    timeOutEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,2}"), timeOutEdit_));
    label(page, "timeOutUnitLabel", "(Sec)", QRect(kFieldLeft + 48, 107, 60, 20));
    label(page, "localCaptionLabel", "Local Information", QRect(kLeft, 134, 200, 18))
        ->setFont(bold);
    label(page, "senderNameLabel", "Name", caption(152));
    senderNameEdit_ = edit(page, "senderNameEdit", row(152, 280), changed::kSenderName);
    label(page, "senderAddressLabel", "E-Mail Address", caption(180));
    senderAddressEdit_ = edit(page, "senderAddressEdit", row(180, 280), changed::kSenderAddress);

    authenticationBox_ = new QCheckBox("SMTP Login Authentication", page);
    authenticationBox_->setObjectName("authenticationBox");
    authenticationBox_->setGeometry(kLeft, 210, 300, 22);
    connect(authenticationBox_, &QCheckBox::toggled, this, &EmailPage::showAuthenticationFields);
    accountLabel_ = label(page, "accountLabel", "Account:", QRect(kLeft, 239, 70, 20));
    accountEdit_ = edit(page, "accountEdit", QRect(84, 236, 140, 24), changed::kAccount);
    passwordLabel_ = label(page, "passwordLabel", "Password:", QRect(236, 239, 74, 20));
    passwordEdit_ = edit(page, "passwordEdit", QRect(310, 236, 136, 24), changed::kPassword);
    passwordEdit_->setMaxLength(static_cast<int>(kMaxPasswordBytes));
    passwordEdit_->setEchoMode(QLineEdit::Password);
    passwordEdit_->setStyleSheet("lineedit-password-character: 42;");  // "*"
    passwordEdit_->setValidator(new PasswordValidator(passwordEdit_));
    clearTextWarning_ = label(page, "clearTextWarningLabel",
                              "Without security the password goes in clear text to a server "
                              "without STARTTLS.",
                              QRect(kLeft, 262, 432, 18));
    clearTextWarning_->setStyleSheet("color: #b00000;");
}

void EmailPage::buildEventPage(QWidget* page, int kind, const char* prefix, const char* infoText) {
    EventControls& c = events_[static_cast<std::size_t>(kind - 1)];
    const auto name = [prefix](const char* role) { return QString(prefix) + role; };
    c.grid = new QTableWidget(kGridRows, 1, page);
    c.grid->setObjectName(name("AddressGrid"));
    c.grid->setHorizontalHeaderLabels({"E-Mail Address"});
    c.grid->verticalHeader()->hide();
    c.grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    c.grid->horizontalHeader()->setStretchLastSection(true);
    c.grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.grid->setSelectionMode(QAbstractItemView::SingleSelection);
    c.grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int gridHeight = kGridRows * kGridRowHeight +
                           c.grid->horizontalHeader()->sizeHint().height() +
                           2 * c.grid->frameWidth();
    c.grid->setGeometry(kLeft, 0, 200, gridHeight);
    connect(c.grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) { selectAddress(row); });

    const int inputTop = gridHeight + 6;
    c.input = new QLineEdit(page);
    c.input->setObjectName(name("AddressEdit"));
    c.input->setGeometry(kLeft, inputTop, 136, 24);
    auto* add = new QPushButton("+", page);
    add->setObjectName(name("AddButton"));
    add->setGeometry(kLeft + 140, inputTop, 28, 24);
    connect(add, &QPushButton::clicked, this, &EmailPage::addAddress);
    auto* remove = new QPushButton("-", page);
    remove->setObjectName(name("RemoveButton"));
    remove->setGeometry(kLeft + 172, inputTop, 28, 24);
    connect(remove, &QPushButton::clicked, this, &EmailPage::removeAddress);

    const int right = 230;
    label(page, name("SubjectLabel").toUtf8().constData(), "Subject", QRect(right, 0, 200, 18));
    c.subject = new QLineEdit(page);
    c.subject->setObjectName(name("SubjectEdit"));
    c.subject->setGeometry(right, 18, 216, 24);
    label(page, name("ContentsLabel").toUtf8().constData(), "Contents", QRect(right, 48, 200, 18));
    c.contents = new QPlainTextEdit(page);
    c.contents->setObjectName(name("ContentsMemo"));
    c.contents->setGeometry(right, 66, 216, 120);
    QFont small = font();
    small.setPixelSize(11);
    const char* const autoAdd[] = {"Auto Add :", infoText,
                                   "system info. in front of E-Mail contents."};
    const char* const autoAddNames[] = {"AutoAddLabel", "AutoAddInfoLabel", "AutoAddSystemLabel"};
    for (int i = 0; i < 3; ++i) {
        label(page, name(autoAddNames[i]).toUtf8().constData(), autoAdd[i],
              QRect(right, 192 + 16 * i, 226, 16))
            ->setFont(small);
    }
    c.suppress = new QCheckBox("Don't send EMail for this event.", page);
    c.suppress->setObjectName(name("SuppressBox"));
    c.suppress->setGeometry(kLeft, 250, 300, 22);
}

void EmailPage::showSubPage(int index) {
    if (index < kSetupPage || index > kDeviceRemovedPage) return;
    subPage_ = index;
    tabs_[static_cast<std::size_t>(index)]->setChecked(true);
    for (EventControls& c : events_) c.input->clear();
    stack_->setCurrentIndex(index);
    testButton_->setVisible(index == kSetupPage);
}

void EmailPage::showAuthenticationFields() {
    const bool on = authenticationBox_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{accountLabel_, accountEdit_, passwordLabel_,
                                                      passwordEdit_}) {
        w->setVisible(on);
    }
    clearTextWarning_->setVisible(on && !requireTlsBox_->isChecked() &&
                                  securityBox_->currentIndex() == static_cast<int>(Security::None));
}

void EmailPage::onSecurityChosen(int index) {
    settings_.pageChangedBits |= changed::kSecurity;
    // The port follows the choice while it holds the other choice's default.
    const bool tls = index == static_cast<int>(Security::Tls);
    if (portEdit_->text() == (tls ? "25" : "465")) portEdit_->setText(tls ? "465" : "25");
    showAuthenticationFields();
}

EmailPage::EventControls* EmailPage::currentEvent() {
    if (subPage_ == kDiskFailPage) return &events_[0];
    if (subPage_ == kDeviceRemovedPage) return &events_[1];
    return nullptr;
}

void EmailPage::refreshGrids() {
    for (EventControls& c : events_) {
        for (int row = 0; row < kGridRows; ++row) {
            const auto i = static_cast<std::size_t>(row);
            const QString text = i < addresses_.size() ? Q(addresses_[i]) : QString();
            auto* item = new QTableWidgetItem(text);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            c.grid->setItem(row, 0, item);
        }
    }
}

void EmailPage::addAddress() {
    EventControls* c = currentEvent();
    if (c == nullptr) return;
    const QString text = c->input->text();
    if (text.isEmpty() || addresses_.size() >= kMaxRecipients) return;
    // The only check: an "@" somewhere. No trimming, duplicates allowed.
    if (!text.contains('@')) {
        tell("E-Mail Address formula error!", kMessageCaption);
    } else {
        addresses_.push_back(S(text));
        refreshGrids();
    }
    c->input->clear();
}

void EmailPage::removeAddress() {
    EventControls* c = currentEvent();
    if (c == nullptr) return;
    const int row = c->grid->currentRow();
    if (row < 0 || static_cast<std::size_t>(row) >= addresses_.size()) return;
    addresses_.erase(addresses_.begin() + row);
    c->input->clear();
    refreshGrids();
}

void EmailPage::selectAddress(int row) {
    EventControls* c = currentEvent();
    if (c == nullptr || row < 0) return;
    const auto i = static_cast<std::size_t>(row);
    c->input->setText(i < addresses_.size() ? Q(addresses_[i]) : QString());
}

void EmailPage::fillFromSettings(bool keepSuppressBoxes) {
    const MailSettings& s = settings_.settings;
    // The security choice before the port, so that the port it brings
    // along is the stored one.
    securityBox_->setCurrentIndex(static_cast<int>(s.security));
    requireTlsBox_->setChecked(s.requireTls);
    portEdit_->setText(Q(s.port));
    hostEdit_->setText(Q(s.host));
    senderNameEdit_->setText(Q(s.senderName));
    senderAddressEdit_->setText(Q(s.senderAddress));
    timeOutEdit_->setText(Q(s.timeOut));
    passwordEdit_->setText(Q(s.password));
    accountEdit_->setText(Q(s.account));
    if (!keepSuppressBoxes) {
        events_[0].suppress->setChecked((settings_.suppressMask & 1u) != 0);
        events_[1].suppress->setChecked((settings_.suppressMask & 2u) != 0);
    }
    authenticationBox_->setChecked(settings_.Authenticates());
    for (int kind = 1; kind <= 2; ++kind) {
        const EventTemplate& t = settings_.templates[static_cast<std::size_t>(kind)];
        EventControls& c = events_[static_cast<std::size_t>(kind - 1)];
        c.subject->setText(t.subject.empty() ? QString() : Q(t.subject.front()));
        c.subject->setCursorPosition(0);  // a long subject shows its beginning
        c.contents->setPlainText(MemoText(t.body));
    }
    addresses_ = settings_.recipients;
    refreshGrids();
}

void EmailPage::fillDefaults() {
    securityBox_->setCurrentIndex(static_cast<int>(Security::None));
    requireTlsBox_->setChecked(false);
    portEdit_->setText("25");
    timeOutEdit_->setText("0");
    authenticationBox_->setChecked(false);
}

void EmailPage::refill(bool keepSuppressBoxes) {
    if (settings_.keyExists) {
        fillFromSettings(keepSuppressBoxes);
    } else {
        fillDefaults();
    }
    showAuthenticationFields();
    settings_.pageChangedBits = 0;
    showSubPage(subPage_);
}

void EmailPage::fillPage() { refill(false); }

void EmailPage::ignore() {
    if (serviceSettingsMissing()) return;
    refill(true);
}

void EmailPage::clearFields() {
    for (QLineEdit* e : stack_->findChildren<QLineEdit*>()) e->clear();
    for (EventControls& c : events_) {
        c.contents->clear();
        c.suppress->setChecked(false);
    }
    addresses_.clear();
    refreshGrids();
}

void EmailPage::enableControls(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{stack_, testButton_, okButton_, ignoreButton_})
        w->setEnabled(enabled);
    for (QPushButton* tab : tabs_) tab->setEnabled(enabled);
}

void EmailPage::showServiceSettings(const client::MailSettingsRecord& served) {
    settings_ = StateOf(served);
    // Nothing of settings shown before stays where these have none.
    clearFields();
    refill(false);
    if (served.password == "set") {
        passwordEdit_->setPlaceholderText("(stored)");
        passwordEdit_->setToolTip(
            "A password is stored; it is not shown. Type a new one to replace it.");
    } else if (served.password == "invalid") {
        passwordEdit_->setPlaceholderText("(unreadable)");
        passwordEdit_->setToolTip("The stored password cannot be read. Type it again.");
    } else {
        passwordEdit_->setPlaceholderText("(none stored)");
        passwordEdit_->setToolTip("No password is stored. Type one to store it.");
    }
    // The texts stay in their files on the service's machine.
    for (int kind = 1; kind <= 2; ++kind) {
        const auto k = static_cast<std::size_t>(kind - 1);
        QPlainTextEdit* memo = events_[k].contents;
        memo->setReadOnly(true);
        memo->setPlaceholderText(
            QString("The service keeps this text in %1 (%2 lines); edit that file as root to "
                    "change it.")
                .arg(QString::fromStdString(BodyFile(served.templateFolder, kind).string()))
                .arg(served.events[k].bodyLines));
    }
    servedFields_ = pageFields();
    serviceSettingsShown_ = true;
    serviceNotice_->hide();
    stack_->show();
    enableControls(true);
}

void EmailPage::showServiceNotice(const QString& text) {
    serviceSettingsShown_ = false;
    clearFields();
    settings_.pageChangedBits = 0;
    stack_->hide();
    enableControls(false);
    serviceNotice_->setText(text);
    serviceNotice_->show();
}

bool EmailPage::serviceSettingsMissing() const {
    return throughService() && !serviceSettingsShown_;
}

std::optional<client::MailSettingsChanges> EmailPage::serviceChanges() const {
    const MailPageFields now = pageFields();
    const MailPageFields& was = servedFields_;
    // The service's first settings are all that the page holds.
    const bool all = !settings_.keyExists;
    bool any = all;
    client::MailSettingsChanges c;
    const auto put = [all, &any](auto& change, const auto& value, const auto& served) {
        if (!all && value == served) return;
        change = value;
        any = true;
    };
    const MailSettings& n = now.settings;
    const MailSettings& w = was.settings;
    put(c.host, n.host, w.host);
    put(c.port, n.port, w.port);
    put(c.security, std::string(SecurityName(n.security)), std::string(SecurityName(w.security)));
    put(c.requireTls, n.requireTls, w.requireTls);
    put(c.timeOut, n.timeOut, w.timeOut);
    put(c.senderName, n.senderName, w.senderName);
    put(c.senderAddress, n.senderAddress, w.senderAddress);
    put(c.authentication, now.authentication, was.authentication);
    put(c.account, n.account, w.account);
    put(c.recipients, now.addresses, was.addresses);
    put(c.mailed[0], !now.suppressDiskFail, !was.suppressDiskFail);
    put(c.mailed[1], !now.suppressDeviceRemoved, !was.suppressDeviceRemoved);
    for (std::size_t k = 0; k < c.subject.size(); ++k)
        put(c.subject[k], FirstLine(now.events[k].subject), FirstLine(was.events[k].subject));
    // The field never holds the stored password: only a typed one is sent.
    if (!n.password.empty()) {
        c.password = n.password;
        any = true;
    }
    if (!any) return std::nullopt;
    return c;
}

MailPageFields EmailPage::pageFields() const {
    MailPageFields f;
    f.settings.port = S(portEdit_->text());
    f.settings.host = S(hostEdit_->text());
    f.settings.senderName = S(senderNameEdit_->text());
    f.settings.senderAddress = S(senderAddressEdit_->text());
    f.settings.timeOut = S(timeOutEdit_->text());
    f.settings.password = S(passwordEdit_->text());
    f.settings.account = S(accountEdit_->text());
    f.settings.security = static_cast<Security>(securityBox_->currentIndex());
    f.settings.requireTls = requireTlsBox_->isChecked();
    f.authentication = authenticationBox_->isChecked();
    f.suppressDiskFail = events_[0].suppress->isChecked();
    f.suppressDeviceRemoved = events_[1].suppress->isChecked();
    f.addresses = addresses_;
    for (std::size_t k = 0; k < events_.size(); ++k) {
        const QString subject = events_[k].subject->text();
        if (!subject.isEmpty()) f.events[k].subject = {S(subject)};
        f.events[k].body = MemoLines(events_[k].contents);
    }
    return f;
}

void EmailPage::save() {
    if (serviceSettingsMissing()) return;
    if (throughService()) {
        if (auto changes = serviceChanges()) hooks_.storeThroughService(std::move(*changes));
        return;
    }
    MailPageFields fields = pageFields();
    const auto error = SaveMailSettings(store_, settings_, flags_, fields);
    // The save's defaults for an empty port and time-out show on the page.
    portEdit_->setText(Q(fields.settings.port));
    timeOutEdit_->setText(Q(fields.settings.timeOut));
    // A password dropped with its host or account is no longer shown.
    if (!error && fields.settings.password.empty()) passwordEdit_->clear();
    if (error) return tell(*error, "Error");
    if (hooks_.stored) hooks_.stored();
}

void EmailPage::test() {
    if (serviceSettingsMissing()) return;
    if (settings_.pageChangedBits != 0) {
        tell("E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!",
             kMessageCaption);
    } else if (!settings_.loaded) {
        tell("E-Mail setting isn't ready!", kMessageCaption);
    } else if (throughService()) {
        hooks_.testThroughService();
    } else {
        auto job = ComposeTestMail(mail_, settings_, appTitle_);
        if (job && hooks_.sendTestMail) hooks_.sendTestMail(std::move(*job));
    }
}

void EmailPage::showSendResult(bool sent, const QString& error, bool testMail,
                               const QStringList& notes) {
    if (!sent) {
        tell(S(error), "Error");
    } else if (testMail) {
        tell(S((QStringList{"Send mail Success!"} + notes).join("\n\n")), kMessageCaption);
    }
}

void EmailPage::tell(const std::string& text, const std::string& caption) {
    if (hooks_.message) hooks_.message(text, caption);
}

}  // namespace raid::mail
