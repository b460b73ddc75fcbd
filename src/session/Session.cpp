#include "session/Session.h"

#include "common/ChipAddress.h"
#include "common/HexText.h"
#include "regmap/MapFile.h"
#include "regmap/RegisterMapReader.h"
#include "usb/BridgeIds.h"

#include <QFileInfo>

namespace regbench::session {

Session::Session(usb::UsbDriver& driver, QObject* parent)
    : QObject(parent), link_(driver, *this), transfer_(link_, *this), operations_(map_, transfer_, *this) {
    link_.VendorId = usb::BridgeVendorId;
    link_.ProductId = usb::BridgeProductId;
    link_.DeviceContext.InterfaceNumber = 0;
    link_.DeviceContext.AlternateSetting = 0;
    link_.onAttachedChanged = [this](bool attached) {
        if (attached)
            emit bridgeAttached();
        else
            emit bridgeDetached();
    };
}

Session::~Session() {
    close();
}

Session::MapLoad Session::loadMap(const QString& path) {
    const regmap::MapFile::Loaded loaded = regmap::MapFile::load(path);
    if (loaded.outcome != regmap::MapFile::Outcome::Read) {
        const QString name = QFileInfo(path).fileName();
        return {false,
                loaded.outcome == regmap::MapFile::Outcome::Missing
                    ? regmap::MapFile::missingMessage(name)
                    : regmap::MapFile::unreadableMessage(name),
                {},
                {}};
    }
    regmap::RegisterMapReader::ReadResult result = regmap::RegisterMapReader::read(loaded.bytes);
    map_ = std::move(result.map);
    mapAddress_ = result.chipAddress;
    ignoredRecords_ = std::move(result.ignored);
    applyChipAddress();
    return {true, {}, std::move(result.titleBar), std::move(result.title)};
}

void Session::setAddressOverride(std::optional<std::uint8_t> address) {
    addressOverride_ = address;
    applyChipAddress();
}

void Session::applyChipAddress() {
    const std::uint8_t address =
        addressOverride_.value_or(mapAddress_.value_or(common::ChipAddress::Default));
    if (address == operations_.chipAddress())
        return;
    operations_.setChipAddress(address);
    emit chipAddressChanged(address);
}

void Session::logLine(const QString& text) {
    LogText(text, common::CrLf);
}

// The lines come after the start-up report, which clears the log once the bridge is found.
void Session::start(const std::function<void(int milliseconds)>& pause) {
    link_.startUp(pause);
    if (link_.isShutDown())
        return;
    for (const QString& line : ignoredRecords_)
        logLine(line);
    if (chipAddress() != common::ChipAddress::Default)
        logLine(QStringLiteral("Chip at I2C address ") + common::HexText::byteText(chipAddress()));
}

void Session::close() {
    operations_.stop();
    link_.shutDown();
}

void Session::LogText(const QString& text, const QString& suffix) {
    if (log_)
        log_->LogText(text, suffix);
}

void Session::clearLog() {
    if (log_)
        log_->clearLog();
}

} // namespace regbench::session
