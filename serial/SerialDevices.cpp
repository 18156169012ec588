#include "serial/SerialDevices.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/PosixIo.h"

namespace {

std::string Property(const std::map<std::string, std::string>& properties, const char* key) {
    const auto it = properties.find(key);
    return it == properties.end() ? std::string() : it->second;
}

// The first of the keys that has a value.
std::string FirstOf(const std::map<std::string, std::string>& properties, const char* preferred,
                    const char* fallback) {
    std::string value = Property(properties, preferred);
    return value.empty() ? Property(properties, fallback) : value;
}

void SortByNode(std::vector<SerialDevice>& devices) {
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.node < b.node; });
}

}  // namespace

SerialDevice DeviceFromProperties(const std::map<std::string, std::string>& properties) {
    SerialDevice device;
    device.node = Property(properties, "DEVNAME");
    std::istringstream links(Property(properties, "DEVLINKS"));
    for (std::string link; links >> link;) {
        if (link.find("/serial/by-id/") != std::string::npos) {
            device.stableName = link;
            break;
        }
    }
    if (device.stableName.empty()) {
        device.stableName = device.node;
    }
    device.maker = FirstOf(properties, "ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
    device.model = FirstOf(properties, "ID_MODEL_FROM_DATABASE", "ID_MODEL");
    device.usb =
        Property(properties, "ID_BUS") == "usb" || !Property(properties, "ID_USB_DRIVER").empty();
    return device;
}

std::vector<SerialDevice> CUdevSerialDevices::List() const {
    std::vector<SerialDevice> devices;
    udev* context = udev_new();
    if (context == nullptr) {
        return devices;
    }
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate != nullptr && udev_enumerate_add_match_subsystem(enumerate, "tty") >= 0 &&
        udev_enumerate_scan_devices(enumerate) >= 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            udev_device* dev =
                udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (dev == nullptr) {
                continue;
            }
            // Virtual terminals have no parent; the 8250 driver's placeholders hang on its
            // platform device whatever hardware there is.
            udev_device* parent = udev_device_get_parent(dev);
            const char* driver = parent != nullptr ? udev_device_get_driver(parent) : nullptr;
            if (parent != nullptr &&
                (driver == nullptr || std::strcmp(driver, "serial8250") != 0)) {
                std::map<std::string, std::string> properties;
                udev_list_entry* property = nullptr;
                udev_list_entry_foreach(property, udev_device_get_properties_list_entry(dev)) {
                    const char* value = udev_list_entry_get_value(property);
                    properties[udev_list_entry_get_name(property)] = value != nullptr ? value : "";
                }
                SerialDevice device = DeviceFromProperties(properties);
                if (!device.node.empty()) {
                    devices.push_back(std::move(device));
                }
            }
            udev_device_unref(dev);
        }
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    SortByNode(devices);
    return devices;
}

std::vector<SerialDevice> CFolderSerialDevices::List() const {
    std::vector<SerialDevice> devices;
    DIR* dir = ::opendir(m_strDir.c_str());
    if (dir == nullptr) {
        return devices;
    }
    const std::string suffix = ".properties";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        std::map<std::string, std::string> properties;
        std::ifstream file(m_strDir + "/" + name);
        for (std::string line; std::getline(file, line);) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos) {
                properties[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        devices.push_back(DeviceFromProperties(properties));
    }
    ::closedir(dir);
    SortByNode(devices);
    return devices;
}

bool PointComEntry(const std::string& appDir, int comPort, const std::string& target,
                   std::string& error) {
    const std::string name = "COM" + std::to_string(comPort);
    const std::string entry = appDir + name;
    struct stat st {};
    if (::lstat(entry.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = entry + " 不是符号链接,程序不替换它;请先把它移走或删除。";
        return false;
    }
    const std::string temporary = appDir + "." + name + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = temporary + ": " + ErrnoText(errno);
        return false;
    }
    if (::rename(temporary.c_str(), entry.c_str()) != 0) {
        error = entry + ": " + ErrnoText(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
