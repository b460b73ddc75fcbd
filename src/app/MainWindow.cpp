#include "app/MainWindow.h"

#include "app/ActivityLog.h"
#include "app/InputHold.h"
#include "app/MainWindowAccessible.h"
#include "app/VisibleTabChain.h"
#include "app/WatchWindow.h"
#include "common/PreciseTimer.h"
#include "panels/Accessible.h"
#include "panels/MapText.h"
#include "panels/MapTextLabel.h"
#include "panels/RegisterPanel.h"
#include "panels/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

namespace regbench::app {

using panels::twipsRect;

namespace {

const QString ApplicationTitle = QStringLiteral("regbench");

constexpr int ClientWidthTwips = 14115;
constexpr int ClientHeightTwips = 6675;

QFont windowFont(double points, bool bold, const QString& family = QStringLiteral("MS Sans Serif")) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The window's fonts are not on Linux; Liberation Sans has the same metrics, so texts fit their boxes.
void substituteWindowsFonts() {
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

// Texts of the map are shown as written: the title bar would take "[*]" as the modified mark, and a tab
// caption takes "&" as its shortcut mark, unless each is doubled. The window system takes the title as a C
// string and would end it at a NUL, which the labels draw as a glyph: the title shows the replacement glyph.
QString literalWindowTitle(QString title) {
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"))
        .replace(QChar(u'\0'), QChar::ReplacementCharacter);
}

QString literalTabCaption(QString caption) {
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

struct PanelPlace {
    int left;
    int top;
};
constexpr std::array<PanelPlace, MainWindow::PanelCount> PanelPlaces{
    {{360, 2400}, {360, 3240}, {1800, 7800}, {1800, 8760}, {1800, 9720}, {1800, 10560}}};

} // namespace

MainWindow::MainWindow(session::Session& session, const QString& mapPath, QWidget* parent)
    : QWidget(parent), session_(session), map_(session.map()), operations_(session.operations()),
      mapPath_(mapPath) {
    Form_Initialize();
    session_.setLog(this);
    operations_.setPage(this, [this](int milliseconds) { Pause(milliseconds); });
    substituteWindowsFonts();
    panels::Accessible::install<MainWindow, MainWindowAccessible>();
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Defined in tabdefs.csv: TITLEBAR"));
    setWindowIcon(QIcon(QStringLiteral(":/regbench/regbench.png")));
    setFont(windowFont(8.25, false));
    resize(panels::twipsToPixels(ClientWidthTwips), panels::twipsToPixels(ClientHeightTwips));
    createHeader();
    createPanels();
    createLogAndButtons();

    // Created running: its first tick only sets the flag that every Pause clears again.
    timer1_ = new common::PreciseTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(100);
    connect(timer1_, &common::PreciseTimer::timeout, this, &MainWindow::Timer1_Timer);
    timer1_->start();

    Form_Load();
}

MainWindow::~MainWindow() {
    Form_Unload();
    operations_.setPage(nullptr, {});
    session_.setLog(nullptr);
}

// The bridge's identifiers are the session's, set before any window exists.
void MainWindow::Form_Initialize() {
    panelUpdating_ = false;
}

void MainWindow::Form_Load() {
    LoadRegisterMap();
}

void MainWindow::createHeader() {
    image1_ = new QLabel(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(twipsRect(9000, 120, 4920, 1200));
    image1_->setScaledContents(true);
    image1_->setPixmap(QPixmap(QStringLiteral(":/regbench/logo.jpg")));

    lblQXVDevice_ = new panels::MapTextLabel(QStringLiteral("Defined in tabdefs.csv: TITLE"), this);
    lblQXVDevice_->setObjectName(QStringLiteral("lblQXVDevice"));
    lblQXVDevice_->setGeometry(twipsRect(240, 480, 8535, 495));
    lblQXVDevice_->setFont(windowFont(24, true));

    tabStrip1_ = new QTabWidget(this);
    tabStrip1_->setObjectName(QStringLiteral("TabStrip1"));
    tabStrip1_->setGeometry(twipsRect(120, 1440, 13815, 3135));
    tabStrip1_->setFont(windowFont(9.75, true));
    tabStrip1_->setUsesScrollButtons(true);
    tabStrip1_->setAccessibleName(QStringLiteral("Register tabs"));
    connect(tabStrip1_, &QTabWidget::currentChanged, this, [this] { TabStrip1_Click(); });
}

void MainWindow::createPanels() {
    for (int p = 0; p < PanelCount; ++p) {
        auto* panel = new panels::RegisterPanel(p, this);
        const PanelPlace place = PanelPlaces.at(static_cast<std::size_t>(p));
        panel->setGeometry(twipsRect(place.left, place.top, 13335, 855));
        connect(panel, &panels::RegisterPanel::bitClicked, this, &MainWindow::cbRegToggleBit_Click);
        connect(panel, &panels::RegisterPanel::keyTyped, this,
                [this](int index, int key) { tbRegdata_KeyPress(index, key); });
        connect(panel, &panels::RegisterPanel::upDownChanged, this, &MainWindow::updnRegData_Change);
        connect(panel, &panels::RegisterPanel::readClicked, this, &MainWindow::cbRead_Click);
        connect(panel, &panels::RegisterPanel::writeClicked, this, &MainWindow::cbWrite_Click);
        connect(panel, &panels::RegisterPanel::menuRequested, this, &MainWindow::showPanelMenu);
        connect(panel, &panels::RegisterPanel::watchRequested, this, &MainWindow::openWatch);
        panels_.at(static_cast<std::size_t>(p)) = panel;
    }
}

QPushButton* MainWindow::createButton(const char* name, const QString& caption, const QRect& geometry,
                                      double points) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setFont(windowFont(points, true));
    return button;
}

void MainWindow::createLogAndButtons() {
    auto* lblLog = new QLabel(QStringLiteral("Log:"), this);
    lblLog->setObjectName(QStringLiteral("lblLog"));
    lblLog->setGeometry(twipsRect(120, 4800, 540, 285));
    lblLog->setFont(windowFont(12, true, QStringLiteral("Arial")));

    txtLog_ = new ActivityLog(this);
    txtLog_->setObjectName(QStringLiteral("txtLog"));
    txtLog_->setGeometry(twipsRect(840, 4800, 6855, 1575));
    lblLog->setBuddy(txtLog_); // which names the log for assistive technology

    auto* clearLog =
        createButton("cmdClearLog", QStringLiteral("Clear Log"), twipsRect(7920, 4800, 1455, 1215), 9.75);
    connect(clearLog, &QPushButton::clicked, this, &MainWindow::cmdClearLog_Click);
    auto* quit = createButton("cbQuit", QStringLiteral("Quit"), twipsRect(12600, 4800, 1335, 1215), 9.75);
    connect(quit, &QPushButton::clicked, this, &MainWindow::cbQuit_Click);
    holdInputDuringTransfers(quit);

    auto* readAll = createButton("cbReadAllRegs", QStringLiteral("Read All Registers"),
                                 twipsRect(9600, 4800, 1335, 1215), 9.75);
    auto* writeAll = createButton("cbWriteAllRegs", QStringLiteral("Write All Registers"),
                                  twipsRect(11040, 4800, 1335, 1215), 9.75);
    auto* readGroup =
        createButton("cbReadRegs", QStringLiteral("Read Group"), twipsRect(11400, 11520, 735, 495), 8.25);
    auto* writeGroup =
        createButton("cbWriteRegs", QStringLiteral("Write Group"), twipsRect(12360, 11640, 735, 495), 8.25);
    connect(readAll, &QPushButton::clicked, this, &MainWindow::cbReadAllRegs_Click);
    connect(writeAll, &QPushButton::clicked, this, &MainWindow::cbWriteAllRegs_Click);
    connect(readGroup, &QPushButton::clicked, this, &MainWindow::cbReadRegs_Click);
    connect(writeGroup, &QPushButton::clicked, this, &MainWindow::cbWriteRegs_Click);
    // Created hidden and disabled; nothing in the program shows them.
    for (QPushButton* hidden : {readAll, writeAll, readGroup, writeGroup}) {
        hidden->setEnabled(false);
        hidden->setVisible(false);
    }
}

// Quit goes through, by mouse or by its key, so that a bridge that never answers cannot keep the window open;
// a close request from the desktop is no input and goes through anyway.
void MainWindow::holdInputDuringTransfers(QPushButton* quit) {
    const auto passes = [quit](QObject* receiver, const QEvent& event) {
        if (receiver == quit)
            return true;
        if (event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease)
            return QApplication::focusWidget() == quit;
        if (const auto* mouse = dynamic_cast<const QMouseEvent*>(&event); mouse && receiver->isWindowType())
            return QApplication::widgetAt(mouse->globalPosition().toPoint()) == quit;
        return false;
    };
    inputHold_ = new InputHold(operations_.turn(), passes, this);
}

void MainWindow::showCentred() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!activated_) {
        activated_ = true;
        // Runs from the event loop once the window is up, so that the start-up wait keeps it painted.
        QMetaObject::invokeMethod(this, &MainWindow::Form_Activate, Qt::QueuedConnection);
    }
}

void MainWindow::Form_Activate() {
    if (unloaded_)
        return;
    session_.start([this](int milliseconds) { Pause(milliseconds); });
    startUpDone_ = true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

// The panels below the log keep their places outside the window until it is enlarged; Tab passes them by.
bool MainWindow::focusNextPrevChild(bool next) {
    return VisibleTabChain::focusNext(this, next);
}

void MainWindow::cbQuit_Click() {
    close();
}

// Never refused. Whatever waits in a pause finds the window unloaded and stops; the connection is closed
// once, so no callback can reach the window afterwards.
void MainWindow::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    pauseElapsed_ = true;
    timer1_->stop();
    for (WatchWindow* watch : watches())
        watch->close();
    session_.close();
}

void MainWindow::Timer1_Timer() {
    pauseElapsed_ = true;
    timer1_->stop();
}

// Waits for events instead of spinning: a pause costs almost no CPU, and a pause inside a pause ends both
// on the inner tick, because they share the timer and the flag.
void MainWindow::Pause(int milliseconds) {
    timer1_->stop();
    timer1_->setInterval(std::max(milliseconds, 1));
    timer1_->start();
    pauseElapsed_ = false;
    while (!pauseElapsed_ && !unloaded_)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void MainWindow::LogText(const QString& text, const QString& suffix) {
    if (!unloaded_)
        txtLog_->LogText(text, suffix);
}

void MainWindow::clearLog() {
    cmdClearLog_Click();
}

void MainWindow::cmdClearLog_Click() {
    txtLog_->clearLog();
}

void MainWindow::showMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::LoadRegisterMap() {
    const session::Session::MapLoad result = session_.loadMap(mapPath_);
    if (!result.read) {
        showMessage(result.message);
        return;
    }
    if (result.titleBar) // no title bar shows more than a control keeps of a text
        setWindowTitle(literalWindowTitle(panels::MapText::bounded(*result.titleBar)));
    if (result.title)
        lblQXVDevice_->setMapText(*result.title);
    {
        const QSignalBlocker blocker(tabStrip1_);
        while (tabStrip1_->count() > 0) {
            QWidget* page = tabStrip1_->widget(0);
            tabStrip1_->removeTab(0);
            delete page;
        }
        for (int t = 0; t <= map_.TabCount; ++t)
            addMapTab(map_.TabNames.at(static_cast<std::size_t>(t)));
    }
    TabStrip1_Click();
}

// A caption wider than the strip is cut; its tab's tooltip and accessible name hold it, as far as a control
// keeps a text.
void MainWindow::addMapTab(const QString& caption) {
    QTabBar* bar = tabStrip1_->tabBar();
    const int room = tabStrip1_->width() -
                     bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar) -
                     2 * bar->style()->pixelMetric(QStyle::PM_TabBarScrollButtonWidth, nullptr, bar);
    const QString shown = panels::MapText::fitted(caption, bar->fontMetrics(), room);
    const int t = tabStrip1_->addTab(new QWidget, literalTabCaption(shown));
    if (shown != caption) {
        tabStrip1_->setTabToolTip(t, panels::MapText::toolTip(caption));
        bar->setAccessibleTabName(t, panels::MapText::bounded(caption));
    }
}

void MainWindow::TabStrip1_Click() {
    for (int p = 0; p < PanelCount; ++p) {
        panels::RegisterPanel& shown = panel(p);
        const int a = map_.slotAddress(p, tabStrip1_->currentIndex());
        if (a < 0 || a >= regmap::RegisterMap::RegisterCount) {
            shown.setVisible(false); // a hidden panel keeps what it last showed
            continue;
        }
        shown.setVisible(true);
        shown.showRegister(map_, a);
        shown.showValue(map_.RegValues.at(static_cast<std::size_t>(a)));
    }
}

// A screen reader's toggle is no input event that the hold keeps back: during an access it waits its turn
// all the same, so that a value being read cannot overwrite it.
void MainWindow::cbRegToggleBit_Click(int index) {
    if (operations_.turn().deferred([this, index] { cbRegToggleBit_Click(index); }))
        return;
    const int p = index / panels::RegisterPanel::BitCount;
    panel(p).toggleBit(index % panels::RegisterPanel::BitCount);
    StoreValueFromText(p);
}

void MainWindow::StoreValueFromText(int p) {
    const int a = map_.slotAddress(p, tabStrip1_->currentIndex());
    const int value = panel(p).textValue();
    if (a < 0 || a > 255 || value < 0 || value > 255)
        return; // only a shown panel edits, and the table holds bytes only
    map_.RegValues.at(static_cast<std::size_t>(a)) = static_cast<std::int16_t>(value);
}

void MainWindow::tbRegdata_KeyPress(int p, int& key) {
    const bool changed = panel(p).typeKey(key);
    key = 0; // every accepted edit is made above; the box inserts nothing itself
    if (changed)
        StoreValueFromText(p);
}

// Nothing raises PanelUpdating any more: a panel does not report the moves of its up-down that it makes
// itself, so every change that arrives here is the user's.
void MainWindow::updnRegData_Change(int p) {
    if (panelUpdating_)
        return;
    panel(p).showValue(panel(p).upDownValue());
    StoreValueFromText(p);
}

void MainWindow::cbRead_Click(int p) {
    operations_.readPanel(p);
}

void MainWindow::cbWrite_Click(int p) {
    operations_.writePanel(p);
}

void MainWindow::cbReadRegs_Click() {
    operations_.readGroup();
}

void MainWindow::cbWriteRegs_Click() {
    operations_.writeGroup();
}

void MainWindow::cbReadAllRegs_Click() {
    operations_.readAll();
}

void MainWindow::cbWriteAllRegs_Click() {
    operations_.writeAll();
}

int MainWindow::selectedTab() const {
    return tabStrip1_->currentIndex();
}

int MainWindow::panelValue(int p) const {
    return panel(p).textValue();
}

void MainWindow::showPanelValue(int p, std::uint8_t value) {
    panel(p).showValue(value);
}

void MainWindow::showPage() {
    TabStrip1_Click();
}

int MainWindow::panelAddress(int panel) const {
    const int address = map_.slotAddress(panel, selectedTab());
    return address < regmap::RegisterMap::RegisterCount ? address : -1;
}

std::vector<WatchWindow*> MainWindow::watches() const {
    std::vector<WatchWindow*> open;
    for (const QPointer<WatchWindow>& watch : watches_)
        if (watch && watch->isVisible())
            open.push_back(watch);
    return open;
}

void MainWindow::showPanelMenu(int panel, const QPoint& at) {
    if (unloaded_ || panelAddress(panel) < 0)
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Watch"), this, [this, panel] { openWatch(panel); });
    for (WatchWindow* watch : watches())
        menu.addAction(QStringLiteral("Add to ") + watch->windowTitle(), this,
                       [this, target = QPointer<WatchWindow>(watch), panel] { addToWatch(target, panel); });
    menu.exec(at);
}

WatchWindow* MainWindow::openWatch(int panel) {
    const int address = panelAddress(panel);
    if (unloaded_ || address < 0)
        return nullptr;
    auto* watch = new WatchWindow(session_, this);
    std::erase_if(watches_, [](const QPointer<WatchWindow>& w) { return w.isNull(); });
    watches_.emplace_back(watch);
    watch->addRegister(static_cast<std::uint8_t>(address));
    watch->show();
    return watch;
}

void MainWindow::addToWatch(WatchWindow* watch, int panel) {
    const int address = panelAddress(panel);
    if (watch && address >= 0) {
        watch->addRegister(static_cast<std::uint8_t>(address));
        watch->raise();
    }
}

} // namespace regbench::app
