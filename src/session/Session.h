#pragma once

#include "access/RegisterOperations.h"
#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "common/LogSink.h"
#include "regmap/RegisterMap.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace regbench::usb {
class UsbDriver;
}

namespace regbench::session {

// What the window, the commands and a watch share for the whole run, over the backend the program was
// given: the register map, the driver connection with the bridge's identifiers, the pipe transfers and the
// register operations (one access at a time, whoever asks). Owned by main, which hands it to whatever it
// starts. Log lines go to the log given; before one is given, and after it is taken away, nowhere.
class Session : public QObject, public common::LogSink {
    Q_OBJECT
public:
    explicit Session(usb::UsbDriver& driver, QObject* parent = nullptr);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    regmap::RegisterMap& map() { return map_; }
    const regmap::RegisterMap& map() const { return map_; }
    bridge::BridgeLink& link() { return link_; }
    bridge::PipeTransfer& transfer() { return transfer_; }
    access::RegisterOperations& operations() { return operations_; }
    bool attached() const { return link_.DeviceAttached; }

    void setLog(common::LogSink* log) { log_ = log; }

    // What reading a register map came to: the texts it gives the window, or the box's text when it could
    // not be read (the map then stays as it was).
    struct MapLoad {
        bool read = false;
        QString message;
        std::optional<QString> titleBar;
        std::optional<QString> title;
    };
    MapLoad loadMap(const QString& path);

    // The chip's 7-bit I2C address that every request names: the one given here (the command line's), else
    // the map's, else the board's.
    void setAddressOverride(std::optional<std::uint8_t> address);
    std::uint8_t chipAddress() const { return operations_.chipAddress(); }

    // Opens the driver connection, lets `pause` wait for the bridge's arrival and reports how it went; then
    // the map's I2CADDR records that were ignored, and the chip's address unless it is the board's.
    void start(const std::function<void(int milliseconds)>& pause);
    // Ends whatever waits (a transfer, an operation's pause) and closes the connection, once: no access goes
    // out afterwards and no callback comes.
    void close();
    bool isClosed() const { return link_.isShutDown(); }

    void LogText(const QString& text, const QString& suffix) override;
    void clearLog() override;

signals:
    // The bridge was accepted, or the one held went; after the log lines that report it.
    void bridgeAttached();
    void bridgeDetached();
    // Where the chip is now addressed: a simulated chip follows.
    void chipAddressChanged(std::uint8_t address);

private:
    void applyChipAddress();
    void logLine(const QString& text);

    common::LogSink* log_ = nullptr;
    regmap::RegisterMap map_;
    bridge::BridgeLink link_;
    bridge::PipeTransfer transfer_;
    access::RegisterOperations operations_;
    std::optional<std::uint8_t> addressOverride_;
    std::optional<std::uint8_t> mapAddress_;
    QStringList ignoredRecords_;
};

} // namespace regbench::session
