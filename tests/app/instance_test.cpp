// One window per user and display: the private folder, the names, the lock,
// and the owner check before any file name is handed over.
#include "app/instance.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSignalSpy>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.hpp"

namespace korvalen {
namespace {

namespace fs = std::filesystem;

TEST(Instance, DisplayKeys) {
    const struct {
        const char *wayland, *x11, *key;
    } cases[] = {
        {"", ":56", "x11-:56"},
        {"", ":57.0", "x11-:57"},  // a screen of display :57
        {"", "host:10.1", "x11-host:10"},
        {"wayland-1", ":0", "wl-wayland-1"},
        {"/run/w/wayland-2", "", "wl-_run_w_wayland-2"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayKey(c.wayland, c.x11), QString::fromUtf8(c.key)) << c.x11;
    }
    EXPECT_EQ(InstanceSocketName("/r", "x11-:1"), "/r/korvalen-x11-:1.socket");
    EXPECT_EQ(InstanceSocketName("/r", ""), "/r/korvalen.socket");
    EXPECT_EQ(InstanceSocketName("", "x11-:1"), "");
}

TEST(Instance, OnlyAPrivateFolderOfTheUser) {
    TempDir dir;
    const uid_t me = ::getuid();
    const QString tmp = QString::fromStdString(dir.Path("tmp"));
    const QString own = tmp + QStringLiteral("/korvalen-%1").arg(me);
    fs::create_directory(dir.Path("tmp"));
    fs::create_directory(dir.Path("xdg"));
    ::chmod(dir.Path("xdg").c_str(), 0700);
    const QByteArray xdg = QByteArray::fromStdString(dir.Path("xdg"));
    EXPECT_EQ(RuntimeFolder(xdg, tmp, me), QString::fromUtf8(xdg));
    EXPECT_FALSE(fs::exists(own.toStdString()));
    // Not private, not absolute, not set: the own folder in tmp, made 0700.
    ::chmod(xdg.constData(), 0755);
    for (const QByteArray& bad : {xdg, QByteArray("xdg"), QByteArray()}) {
        EXPECT_EQ(RuntimeFolder(bad, tmp, me), own) << bad.constData();
    }
    EXPECT_EQ(fs::status(own.toStdString()).permissions(), fs::perms::owner_all);
    // Someone else's: the folder made for `me` does not belong to `me + 1`.
    EXPECT_EQ(RuntimeFolder({}, tmp, me + 1), "");
    ::chmod(xdg.constData(), 0700);
    EXPECT_EQ(RuntimeFolder(xdg, tmp, me + 1), "");
    // Taken first and left open to others, or a link to elsewhere: never used.
    ::chmod(own.toUtf8().constData(), 0777);
    EXPECT_EQ(RuntimeFolder({}, tmp, me), "");
    fs::remove(own.toStdString());
    fs::create_directory_symlink(dir.Path("xdg"), own.toStdString());
    EXPECT_EQ(RuntimeFolder({}, tmp, me), "");
}

TEST(Instance, FilesGoOnlyToTheUsersOwnSocket) {
    TempDir dir;
    const QString name = QString::fromStdString(dir.Path("k.socket"));
    InstanceServer server;
    ASSERT_TRUE(server.Listen(name));
    QSignalSpy arrived(&server, &InstanceServer::filesArrived);
    EXPECT_FALSE(HandToRunningInstance(name, {"/secret.txt"}, "id", ::getuid() + 1));
    EXPECT_FALSE(arrived.wait(300));
    EXPECT_FALSE(HandToRunningInstance(dir.Path("none.socket").c_str(), {"/a"}));
    // The second start waits for the window's answer: it runs apart, as it would.
    bool handed = false;
    std::thread second([&] {
        handed = HandToRunningInstance(name, {"/a b.txt", "/c"}, "launch-1");
    });
    const bool got = arrived.wait(3000);
    second.join();
    EXPECT_TRUE(handed);
    ASSERT_TRUE(got);
    EXPECT_EQ(arrived[0][0].value<std::vector<std::string>>(),
              (std::vector<std::string>{"/a b.txt", "/c"}));
    EXPECT_EQ(arrived[0][1].toByteArray(), "launch-1");
}

TEST(Instance, TheLockIsOneHolderAtATime) {
    TempDir dir;
    const QString name = QString::fromStdString(dir.Path("k.socket"));
    auto first = std::make_unique<InstanceLock>(name);
    ASSERT_TRUE(first->Held());
    std::atomic<bool> got{false};
    std::thread second([&] {
        InstanceLock lock(name);
        got = lock.Held();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(got);
    first.reset();
    second.join();
    EXPECT_TRUE(got);
    EXPECT_FALSE(InstanceLock(QString()).Held());
}

}  // namespace
}  // namespace korvalen
