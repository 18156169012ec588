#pragma once

#include <filesystem>
#include <string>

#include "TestUtil.h"
#include "serial/SerialDevices.h"

// Serial devices laid out in a test folder as CFolderSerialDevices reads them: the devices'
// properties in `root`devices/, their by-id links in `root`dev/serial/by-id/.
class SerialDeviceFolder {
public:
    explicit SerialDeviceFolder(std::string root) : m_root(std::move(root)) {
        std::filesystem::create_directories(ById(""));
        std::filesystem::create_directories(m_root + "devices");
    }
    // The folder that CFolderSerialDevices lists.
    std::string Devices() const { return m_root + "devices"; }
    // A by-id name in the folder.
    std::string ById(const std::string& name) const { return m_root + "dev/serial/by-id/" + name; }

    // A device at `node` (created as an empty file when missing), linked from its by-id name
    // when `byId` is not empty (unless the link is there already, as the emulator makes it);
    // `properties` are further KEY=VALUE lines.
    void Add(const std::string& node, const std::string& byId, const std::string& properties) {
        if (!FileExists(node)) {
            WriteFile(node, "");
        }
        std::string links = "DEVLINKS=" + m_root + "dev/serial/by-path/" + Base(node);
        if (!byId.empty()) {
            if (!std::filesystem::is_symlink(ById(byId))) {
                std::filesystem::create_symlink(node, ById(byId));
            }
            links += " " + ById(byId);
        }
        WriteFile(m_root + "devices/" + Base(node) + ".properties",
                  "DEVNAME=" + node + "\n" + links + "\n" + properties);
    }

private:
    static std::string Base(const std::string& path) {
        return std::filesystem::path(path).filename().string();
    }
    std::string m_root;
};
