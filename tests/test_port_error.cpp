// Why the card reader's port cannot be opened, from the real failure to the operator's words:
// a missing device, a busy port, a refused permission, a file that is no terminal.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "TestUtil.h"
#include "app/PortError.h"
#include "serial/ComPort.h"

namespace {

const QString kNoDevice = QStringLiteral("找不到这个设备:读卡器可能没有插上,或者端口号不对。");

QString Permission(const char* group, const char* user) {
    return QStringLiteral(
               "没有使用这个设备的权限。请让管理员执行下面的命令,然后重新登录(注销再登录后生效):\n"
               "sudo usermod -aG %1 %2")
        .arg(QString::fromLatin1(group), QString::fromLatin1(user));
}

QString WithErrno(const QString& text, int err) {
    return QStringLiteral("%1 (errno %2)").arg(text).arg(err);
}

TEST(PortError, EachFailureToOpenGivesItsReason) {
    TempDir dir;
    PseudoTerminal pty;
    CComPort holder;  // another program's hold on the pseudo-terminal
    ASSERT_TRUE(holder.OpenPort(pty.slave));
    ASSERT_EQ(::symlink((dir / "unplugged").c_str(), (dir / "COM3").c_str()), 0);
    WriteFile(dir / "notes.txt", "not a terminal");
    const struct {
        const char* what;
        std::string device;
        int err;
        QString text;
    } cases[] = {
        {"missing device node", dir / "ttyUSB7", ENOENT, WithErrno(kNoDevice, ENOENT)},
        {"dangling COM link", dir / "COM3", ENOENT, WithErrno(kNoDevice, ENOENT)},
        {"held by another port", pty.slave, EBUSY,
         WithErrno(QStringLiteral("端口正被另一个程序使用,请关闭那个程序后再试。"), EBUSY)},
        {"regular file", dir / "notes.txt", ENOTTY,
         WithErrno(QStringLiteral("这不是一个串行端口"), ENOTTY)},
    };
    for (const auto& c : cases) {
        CComPort port;
        EXPECT_FALSE(port.OpenPort(c.device)) << c.what;
        EXPECT_EQ(port.OpenError(), c.err) << c.what;
        EXPECT_EQ(PortErrorText(port.OpenError(), c.device).toStdString(), c.text.toStdString())
            << c.what;
    }
}

// Opens `device` in a child as the user nobody and hands back the errno and the reason.
struct ChildOpen {
    int status = -1;
    int err = 0;
    std::string text;
};
ChildOpen OpenAsNobody(const std::string& device) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    ChildOpen result;
    result.status = RunAsNobody([&] {
        CComPort port;
        const bool opened = port.OpenPort(device);
        const int err = port.OpenError();
        const std::string text = PortErrorText(err, device).toStdString();
        const bool sent =
            ::write(fds[1], &err, sizeof err) == sizeof err &&
            ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        return !opened && sent ? 0 : 1;
    });
    ::close(fds[1]);
    if (::read(fds[0], &result.err, sizeof result.err) == sizeof result.err) {
        char buffer[1024];
        ssize_t n = 0;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
            result.text.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fds[0]);
    return result;
}

gid_t GroupId(const char* name) {
    const group* g = ::getgrnam(name);
    return g != nullptr ? g->gr_gid : static_cast<gid_t>(-1);
}

TEST(PortError, RefusedPermissionNamesTheCommandForTheUserAndTheDevicesGroup) {
    if (::geteuid() != 0) {
        // Without root: the node made unreadable for its owner, this user.
        PseudoTerminal pty;
        ASSERT_EQ(::chmod(pty.slave.c_str(), 0), 0);
        CComPort port;
        EXPECT_FALSE(port.OpenPort(pty.slave));
        EXPECT_EQ(port.OpenError(), EACCES);
        const QString text = PortErrorText(port.OpenError(), pty.slave);
        EXPECT_TRUE(text.startsWith(QStringLiteral("没有使用这个设备的权限。")))
            << text.toStdString();
        return;
    }
    if (GroupId("dialout") == static_cast<gid_t>(-1) || GroupId("uucp") == static_cast<gid_t>(-1)) {
        GTEST_SKIP() << "no groups dialout and uucp here";
    }
    // The device node belongs to a group that nobody is not in; the advice names that group,
    // and dialout where the node is root's alone. Also through a COM<n> entry.
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const struct {
        const char* group;
        mode_t mode;
        bool throughLink;
        const char* advised;
    } cases[] = {
        {"dialout", 0660, false, "dialout"},
        {"uucp", 0660, true, "uucp"},
        {"root", 0600, false, "dialout"},
    };
    for (const auto& c : cases) {
        PseudoTerminal pty;
        ASSERT_EQ(::chown(pty.slave.c_str(), 0, GroupId(c.group)), 0) << c.group;
        ASSERT_EQ(::chmod(pty.slave.c_str(), c.mode), 0) << c.group;
        std::string device = pty.slave;
        if (c.throughLink) {
            device = dir / "COM5";
            ASSERT_EQ(::symlink(pty.slave.c_str(), device.c_str()), 0);
        }
        const ChildOpen opened = OpenAsNobody(device);
        if (opened.status == kCannotSwitchUser) {
            GTEST_SKIP() << "cannot switch to an unprivileged user here";
        }
        EXPECT_EQ(opened.status, 0) << c.group;
        EXPECT_EQ(opened.err, EACCES) << c.group;
        EXPECT_EQ(opened.text, Permission(c.advised, "nobody").toStdString()) << c.group;
    }
}

TEST(PortError, OtherErrorsKeepTheSystemsWords) {
    EXPECT_EQ(PortErrorText(EIO).toStdString(), "设备读写错误 (errno 5)");
    EXPECT_EQ(PortErrorText(ENODEV, "/dev/ttyUSB0").toStdString(),
              WithErrno(kNoDevice, ENODEV).toStdString());
    EXPECT_EQ(PortErrorText(ELOOP).toStdString(),
              std::string(std::strerror(ELOOP)) + " (errno " + std::to_string(ELOOP) + ")");
}

}  // namespace
