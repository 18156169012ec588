#pragma once

#include <map>
#include <string>
#include <vector>

// One serial device present on the machine, as the port dialog lists it.
struct SerialDevice {
    std::string node;        // the device file, /dev/ttyUSB0
    std::string stableName;  // its /dev/serial/by-id/… link where udev made one, else `node`
    std::string maker;       // empty when udev knows none
    std::string model;
    bool usb = false;
};

// Where the list of serial devices comes from.
class ISerialDeviceSource {
public:
    virtual ~ISerialDeviceSource() = default;
    // The devices present, ordered by node.
    virtual std::vector<SerialDevice> List() const = 0;
};

// The machine's serial devices, from udev (subsystem "tty"; the unused placeholder ports of
// the 8250 driver are left out).
class CUdevSerialDevices : public ISerialDeviceSource {
public:
    std::vector<SerialDevice> List() const override;
};

// Devices laid out in a folder: every file `<name>.properties` there holds one device's udev
// properties, one KEY=VALUE a line (DEVNAME, DEVLINKS, ID_VENDOR, ID_MODEL, ID_BUS, …).
class CFolderSerialDevices : public ISerialDeviceSource {
public:
    explicit CFolderSerialDevices(std::string dir) : m_strDir(std::move(dir)) {}
    std::vector<SerialDevice> List() const override;

private:
    std::string m_strDir;
};

// A device from its udev properties: the by-id link among DEVLINKS as stable name, the
// database's maker and model names before the device's own, USB by ID_BUS or ID_USB_DRIVER.
SerialDevice DeviceFromProperties(const std::map<std::string, std::string>& properties);

// Points the entry COM<comPort> of `appDir` (which ends in '/') at `target`: a new symbolic
// link renamed over the old entry, so that the entry is never missing. Anything there that is
// not a symbolic link is left alone and refused. False with `error` set on failure.
bool PointComEntry(const std::string& appDir, int comPort, const std::string& target,
                   std::string& error);
