#pragma once

#include <QStringList>

namespace regbench::usb::sim {

class SimUsbDriver;

// The misbehaving bridges regbench-sim can be started as (--fault NAME), to see how the window, and a script,
// meet a failure without hardware that fails on cue: "silent" (requests taken, replies never sent: each
// transfer waits for its time-out), "no-ack" and "i2c-error" (every reply says so), "short-reply" (replies
// cut to their status byte), "no-pipes" (the interface has none), "no-device-info" (its information cannot
// be had).
namespace SimFaults {

const QStringList& names();
// Each name must be one of names().
void apply(SimUsbDriver& sim, const QStringList& faults);

} // namespace SimFaults

} // namespace regbench::usb::sim
