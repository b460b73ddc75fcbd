#include "app/MainWindow.h"

#include "app/ActivityLog.h"
#include "common/HexText.h"
#include "common/Messages.h"
#include "panels/HexKeyRules.h"
#include "panels/HexLineEdit.h"
#include "panels/RegisterPanel.h"
#include "panels/Twips.h"
#include "panels/UpDown.h"
#include "regmap/MapFile.h"
#include "regmap/RegisterMapReader.h"
#include "usb/BridgeIds.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

namespace regbench::app {

namespace {

const QString ApplicationTitle = QStringLiteral("regbench");
const QString NotConnectedMessage = QStringLiteral("USB Device not connected!");

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

struct PanelPlace {
    int left;
    int top;
};
constexpr std::array<PanelPlace, MainWindow::PanelCount> PanelPlaces{
    {{360, 2400}, {360, 3240}, {1800, 7800}, {1800, 8760}, {1800, 9720}, {1800, 10560}}};

} // namespace

MainWindow::MainWindow(usb::UsbDriver& driver, const QString& mapDirectory, QWidget* parent)
    : QWidget(parent), mapDirectory_(mapDirectory), link_(driver, *this), transfer_(link_, *this),
      access_(transfer_) {
    Form_Initialize();
    substituteWindowsFonts();
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Defined in tabdefs.csv: TITLEBAR"));
    setWindowIcon(QIcon(QDir(mapDirectory_).filePath(QStringLiteral("regbench.png"))));
    setFont(windowFont(8.25, false));
    resize(panels::twipsToPixels(ClientWidthTwips), panels::twipsToPixels(ClientHeightTwips));
    createHeader();
    createPanels();
    createLogAndButtons();

    // Created running: its first tick only sets the flag that every Pause clears again.
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &MainWindow::Timer1_Timer);
    Timer1.start();

    Form_Load();
}

MainWindow::~MainWindow() {
    Form_Unload();
}

void MainWindow::Form_Initialize() {
    link_.VendorId = usb::BridgeVendorId;
    link_.ProductId = usb::BridgeProductId;
    link_.DeviceContext.InterfaceNumber = 0;
    link_.DeviceContext.AlternateSetting = 0;
    PanelUpdating = false;
}

void MainWindow::Form_Load() {
    LoadRegisterMap();
}

void MainWindow::createHeader() {
    Image1_ = new QLabel(this);
    Image1_->setObjectName(QStringLiteral("Image1"));
    Image1_->setGeometry(panels::twipsRect(9000, 120, 4920, 1200));
    Image1_->setScaledContents(true);
    Image1_->setPixmap(QPixmap(QDir(mapDirectory_).filePath(QStringLiteral("logo.jpg"))));

    lblQXVDevice_ = new QLabel(QStringLiteral("Defined in tabdefs.csv: TITLE"), this);
    lblQXVDevice_->setObjectName(QStringLiteral("lblQXVDevice"));
    lblQXVDevice_->setGeometry(panels::twipsRect(240, 480, 8535, 495));
    lblQXVDevice_->setFont(windowFont(24, true));

    TabStrip1_ = new QTabWidget(this);
    TabStrip1_->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1_->setGeometry(panels::twipsRect(120, 1440, 13815, 3135));
    TabStrip1_->setFont(windowFont(9.75, true));
    TabStrip1_->setUsesScrollButtons(true);
    connect(TabStrip1_, &QTabWidget::currentChanged, this, [this] { TabStrip1_Click(); });
}

void MainWindow::createPanels() {
    for (int p = 0; p < PanelCount; ++p) {
        auto* panel = new panels::RegisterPanel(p, this);
        const PanelPlace place = PanelPlaces.at(static_cast<std::size_t>(p));
        panel->setGeometry(panels::twipsRect(place.left, place.top, 13335, 855));
        connect(panel, &panels::RegisterPanel::bitClicked, this, &MainWindow::cbRegToggleBit_Click);
        connect(panel, &panels::RegisterPanel::keyTyped, this,
                [this](int index, int key) { tbRegdata_KeyPress(index, key); });
        connect(panel, &panels::RegisterPanel::upDownChanged, this, &MainWindow::updnRegData_Change);
        connect(panel, &panels::RegisterPanel::readClicked, this, &MainWindow::cbRead_Click);
        connect(panel, &panels::RegisterPanel::writeClicked, this, &MainWindow::cbWrite_Click);
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
    lblLog_ = new QLabel(QStringLiteral("Log:"), this);
    lblLog_->setObjectName(QStringLiteral("lblLog"));
    lblLog_->setGeometry(panels::twipsRect(120, 4800, 540, 285));
    lblLog_->setFont(windowFont(12, true, QStringLiteral("Arial")));

    txtLog_ = new ActivityLog(this);
    txtLog_->setObjectName(QStringLiteral("txtLog"));
    txtLog_->setGeometry(panels::twipsRect(840, 4800, 6855, 1575));

    auto* clearLog = createButton("cmdClearLog", QStringLiteral("Clear Log"),
                                  panels::twipsRect(7920, 4800, 1455, 1215), 9.75);
    connect(clearLog, &QPushButton::clicked, this, &MainWindow::cmdClearLog_Click);

    auto* readAll = createButton("cbReadAllRegs", QStringLiteral("Read All Registers"),
                                 panels::twipsRect(9600, 4800, 1335, 1215), 9.75);
    auto* writeAll = createButton("cbWriteAllRegs", QStringLiteral("Write All Registers"),
                                  panels::twipsRect(11040, 4800, 1335, 1215), 9.75);
    auto* quit =
        createButton("cbQuit", QStringLiteral("Quit"), panels::twipsRect(12600, 4800, 1335, 1215), 9.75);
    auto* readGroup = createButton("cbReadRegs", QStringLiteral("Read Group"),
                                   panels::twipsRect(11400, 11520, 735, 495), 8.25);
    auto* writeGroup = createButton("cbWriteRegs", QStringLiteral("Write Group"),
                                    panels::twipsRect(12360, 11640, 735, 495), 8.25);
    connect(readAll, &QPushButton::clicked, this, &MainWindow::cbReadAllRegs_Click);
    connect(writeAll, &QPushButton::clicked, this, &MainWindow::cbWriteAllRegs_Click);
    connect(quit, &QPushButton::clicked, this, &MainWindow::cbQuit_Click);
    connect(readGroup, &QPushButton::clicked, this, &MainWindow::cbReadRegs_Click);
    connect(writeGroup, &QPushButton::clicked, this, &MainWindow::cbWriteRegs_Click);
    // Created hidden and disabled; nothing in the program shows them.
    for (QPushButton* hidden : {readAll, writeAll, readGroup, writeGroup}) {
        hidden->setEnabled(false);
        hidden->setVisible(false);
    }
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
    if (unloaded_) {
        return;
    }
    link_.startUp([this](int milliseconds) { Pause(milliseconds); });
    startUpDone_ = true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void MainWindow::cbQuit_Click() {
    close();
}

// Never refused. Whatever waits in a pause finds the window unloaded and stops; the connection is closed
// once, so no callback can reach the window afterwards.
void MainWindow::Form_Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    PauseElapsed = true;
    Timer1.stop();
    link_.shutDown();
}

void MainWindow::Timer1_Timer() {
    PauseElapsed = true;
    Timer1.stop();
}

// Waits for events instead of spinning: a pause costs almost no CPU, and a pause inside a pause ends both
// on the inner tick, because they share the timer and the flag.
void MainWindow::Pause(int milliseconds) {
    Timer1.stop();
    Timer1.setInterval(std::max(milliseconds, 1));
    Timer1.start();
    PauseElapsed = false;
    while (!PauseElapsed && !unloaded_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void MainWindow::LogText(const QString& text, const QString& suffix) {
    if (!unloaded_) {
        txtLog_->LogText(text, suffix);
    }
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
    const regmap::MapFile::Loaded loaded = regmap::MapFile::load(mapDirectory_);
    if (loaded.outcome == regmap::MapFile::Outcome::Missing) {
        showMessage(regmap::MapFile::missingMessage());
        return;
    }
    if (loaded.outcome == regmap::MapFile::Outcome::Unreadable) {
        showMessage(regmap::MapFile::unreadableMessage());
        return;
    }
    const regmap::RegisterMapReader::ReadResult result = regmap::RegisterMapReader::read(loaded.bytes);
    map_ = result.map;
    if (result.titleBar) {
        setWindowTitle(*result.titleBar);
    }
    if (result.title) {
        lblQXVDevice_->setText(*result.title);
    }
    {
        const QSignalBlocker blocker(TabStrip1_);
        while (TabStrip1_->count() > 0) {
            QWidget* page = TabStrip1_->widget(0);
            TabStrip1_->removeTab(0);
            delete page;
        }
        for (int t = 0; t <= map_.TabCount; ++t) {
            TabStrip1_->addTab(new QWidget, map_.TabNames.at(static_cast<std::size_t>(t)));
        }
    }
    TabStrip1_Click();
}

int MainWindow::slotAddress(int panel) const {
    const int tab = TabStrip1_->currentIndex();
    if (tab < 0 || tab >= regmap::RegisterMap::MaxTabs || panel < 0 || panel >= PanelCount) {
        return -1;
    }
    return map_.TabSlotAddr.at(static_cast<std::size_t>(panel)).at(static_cast<std::size_t>(tab));
}

void MainWindow::TabStrip1_Click() {
    for (int p = 0; p < PanelCount; ++p) {
        panels::RegisterPanel& shown = panel(p);
        const int a = slotAddress(p);
        if (a < 0 || a > 255) {
            shown.setVisible(false); // a hidden panel keeps what it last showed
            continue;
        }
        const auto address = static_cast<std::size_t>(a);
        shown.setVisible(true);
        shown.regName()->setText(map_.RegNames.at(address));
        shown.regAddr()->setText(QStringLiteral("@ reg addr 0x") + common::HexText::twoDigitHex(a));
        for (int b = 0; b < panels::RegisterPanel::BitCount; ++b) {
            shown.bitName(b)->setText(map_.BitNames.at(static_cast<std::size_t>(b)).at(address));
        }
        PanelUpdating = true;
        writePanelText(p, map_.RegValues.at(address));
        UpdateBitsFromText(p);
        UpdateUpDownFromText(p);
        PanelUpdating = false;
    }
}

// Writing the whole text leaves the caret at 0 with nothing selected, as the typing rules expect.
void MainWindow::writePanelText(int p, int value) {
    panel(p).hexText()->applyState(panels::HexFieldState{common::HexText::twoDigitHex(value), 0, 0});
}

void MainWindow::UpdateBitsFromText(int p) {
    const int value = common::HexText::value(panel(p).hexText()->text());
    for (int b = 0; b < panels::RegisterPanel::BitCount; ++b) {
        panels::RegisterPanel::setBitState(panel(p).bitButton(b), (value & (1 << b)) > 0);
    }
}

void MainWindow::UpdateUpDownFromText(int p) {
    panel(p).upDown()->setValue(common::HexText::value(panel(p).hexText()->text()));
}

void MainWindow::cbRegToggleBit_Click(int index) {
    QPushButton* button =
        panel(index / panels::RegisterPanel::BitCount).bitButton(index % panels::RegisterPanel::BitCount);
    panels::RegisterPanel::setBitState(button, button->text() != QStringLiteral("1"));
    PanelUpdating = true;
    UpdateTextFromBits(index);
    PanelUpdating = false;
}

void MainWindow::UpdateTextFromBits(int index) {
    const int p = index / panels::RegisterPanel::BitCount;
    int value = 0;
    for (int b = 0; b < panels::RegisterPanel::BitCount; ++b) {
        if (panel(p).bitButton(b)->text() == QStringLiteral("1")) {
            value += 1 << b;
        }
    }
    writePanelText(p, value);
    StoreValueFromText(p);
    UpdateUpDownFromText(p);
}

void MainWindow::StoreValueFromText(int p) {
    const int a = slotAddress(p);
    const int value = common::HexText::value(panel(p).hexText()->text());
    if (a < 0 || a > 255 || value < 0 || value > 255) {
        return; // only a shown panel edits, and the table holds bytes only
    }
    map_.RegValues.at(static_cast<std::size_t>(a)) = static_cast<std::int16_t>(value);
}

void MainWindow::tbRegdata_KeyPress(int p, int& key) {
    panels::HexLineEdit* text = panel(p).hexText();
    const panels::HexKeyResult result = panels::HexKeyRules::apply(text->fieldState(), key);
    key = 0; // every accepted edit is made here; the box inserts nothing itself
    if (!result.changed) {
        return;
    }
    text->applyState(result.state);
    PanelUpdating = true;
    UpdateBitsFromText(p);
    StoreValueFromText(p);
    UpdateUpDownFromText(p);
    PanelUpdating = false;
}

void MainWindow::updnRegData_Change(int p) {
    if (PanelUpdating) {
        return;
    }
    const int value = panel(p).upDown()->value();
    PanelUpdating = true;
    writePanelText(p, value);
    UpdateBitsFromText(p);
    StoreValueFromText(p);
    PanelUpdating = false;
}

bool MainWindow::bridgeAttachedOrReported() {
    if (link_.DeviceAttached) {
        return true;
    }
    showMessage(NotConnectedMessage);
    LogText(common::InterfaceNotDetected, common::CrLf);
    return false;
}

// The attach test comes first, so a panel without a register reports a missing bridge too.
std::optional<std::uint8_t> MainWindow::panelRegister(int p) {
    if (unloaded_ || !bridgeAttachedOrReported()) {
        return std::nullopt;
    }
    const int a = slotAddress(p);
    if (a < 0 || a > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(a);
}

void MainWindow::cbRead_Click(int p) {
    const std::optional<std::uint8_t> address = panelRegister(p);
    if (!address) {
        return;
    }
    const access::AccessOutcome outcome = access_.read(*address);
    // A failed read brings no register value: the panel and the table keep what the user holds.
    if (outcome.succeeded) {
        writePanelText(p, outcome.value);
        PanelUpdating = true;
        UpdateUpDownFromText(p);
        UpdateBitsFromText(p);
        PanelUpdating = false;
        map_.RegValues.at(*address) = outcome.value;
    }
    LogText(outcome.line, common::CrLf);
}

void MainWindow::cbWrite_Click(int p) {
    const std::optional<std::uint8_t> address = panelRegister(p);
    if (!address) {
        return;
    }
    const int value = common::HexText::value(panel(p).hexText()->text());
    if (value >= 0 && value <= 255) {
        map_.RegValues.at(*address) = static_cast<std::int16_t>(value);
    }
    LogText(access_.write(*address, value).line, common::CrLf);
}

void MainWindow::runGroup(const QString& heading, void (MainWindow::*accessPanel)(int)) {
    LogText(heading, common::CrLf);
    for (int p = 0; p < PanelCount; ++p) {
        (this->*accessPanel)(p);
        Pause(10);
        if (unloaded_) {
            return; // the window has closed: nothing more goes out
        }
    }
    LogText(QString(), common::CrLf);
}

void MainWindow::cbReadRegs_Click() {
    runGroup(QStringLiteral("Reading register group:"), &MainWindow::cbRead_Click);
}

void MainWindow::cbWriteRegs_Click() {
    runGroup(QStringLiteral("Writing register group:"), &MainWindow::cbWrite_Click);
}

void MainWindow::runWholeDevice(const QString& heading, bool read) {
    LogText(heading, common::CrLf);
    if (!link_.DeviceAttached) {
        showMessage(NotConnectedMessage);
        LogText(common::InterfaceNotDetected, common::CrLf);
    } else {
        for (int a = 0; a < regmap::RegisterMap::RegisterCount; ++a) {
            const auto address = static_cast<std::size_t>(a);
            if (map_.RegNames.at(address).isEmpty()) {
                continue;
            }
            if (read) {
                const access::AccessOutcome outcome = access_.read(static_cast<std::uint8_t>(a));
                if (outcome.succeeded) {
                    map_.RegValues.at(address) = outcome.value;
                }
                LogText(outcome.line, common::CrLf);
            } else {
                LogText(access_.write(static_cast<std::uint8_t>(a), map_.RegValues.at(address)).line,
                        common::CrLf);
            }
            Pause(10);
            if (unloaded_) {
                return;
            }
        }
    }
    LogText(QString(), common::CrLf);
}

void MainWindow::cbReadAllRegs_Click() {
    runWholeDevice(QStringLiteral("Reading all device registers:"), true);
    if (!unloaded_) {
        TabStrip1_Click();
    }
}

void MainWindow::cbWriteAllRegs_Click() {
    runWholeDevice(QStringLiteral("Writing all device registers:"), false);
}

} // namespace regbench::app
