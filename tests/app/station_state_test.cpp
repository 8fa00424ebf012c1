// SPDX-License-Identifier: MIT
// What the station remembers between runs: the recent files' rules, and a
// state file that is damaged, too large, not a file or cannot be written,
// none of which may stop the station.

#include "app/station_state.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/support/temp_dir.h"

namespace kx {
namespace {

class StateFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QTemporaryDir dir;
};

TEST_F(StateFile, RecentListKeepsFiveMostRecentFirstEachFileOnce) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    Write(QStringLiteral("a.ini"), "x");
    ASSERT_TRUE(QFile::link(Path(QStringLiteral("a.ini")), Path(QStringLiteral("link.ini"))));
    const QString a = Path(QStringLiteral("a.ini"));
    const struct {
        const char* what;
        QStringList before;
        QString added;
        QStringList after;
    } cases[] = {
        {"into an empty list", {}, a, {a}},
        {"first", {"/x/1.ini"}, a, {a, "/x/1.ini"}},
        {"again: moved first", {"/x/1.ini", a}, a, {a, "/x/1.ini"}},
        {"another spelling",
         {"/x/1.ini", a},
         Path(QStringLiteral("sub/../a.ini")),
         {a, "/x/1.ini"}},
        {"through a link", {"/x/1.ini", a}, Path(QStringLiteral("link.ini")), {a, "/x/1.ini"}},
        {"a sixth drops the oldest",
         {"/x/1.ini", "/x/2.ini", "/x/3.ini", "/x/4.ini", "/x/5.ini"},
         a,
         {a, "/x/1.ini", "/x/2.ini", "/x/3.ini", "/x/4.ini"}},
        {"a missing file's spelling cleaned", {}, "/x/y/../2.ini", {"/x/2.ini"}},
        {"nothing", {"/x/1.ini"}, QString(), {"/x/1.ini"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WithRecentFile(c.before, c.added), c.after);
    }
    EXPECT_EQ(WithoutRecentFile({"/x/1.ini", a}, Path(QStringLiteral("link.ini"))),
              QStringList{"/x/1.ini"});
}

TEST_F(StateFile, WhatTheFileHoldsIsCheckedBeforeItIsUsed) {
    const struct {
        const char* what;
        QByteArray text;
        QStringList recent;
        std::optional<int> type;
    } cases[] = {
        {"good",
         "[recent]\nfiles=/a/1.ini, /a/2.ini\n[station]\ndeviceType=4\n",
         {"/a/1.ini", "/a/2.ini"},
         4},
        {"relative paths and control characters dropped",
         "[recent]\nfiles=rel.ini, /a/1.ini, \"/a/\\n2.ini\"\n",
         {"/a/1.ini"},
         std::nullopt},
        {"duplicates and more than five",
         "[recent]\nfiles=/a/1.ini,/a/./1.ini,/a/2.ini,/a/3.ini,/a/4.ini,/a/5.ini,/a/6.ini\n",
         {"/a/1.ini", "/a/2.ini", "/a/3.ini", "/a/4.ini", "/a/5.ini"},
         std::nullopt},
        {"device type out of range", "[station]\ndeviceType=9\n", {}, std::nullopt},
        {"device type not a number", "[station]\ndeviceType=three\n", {}, std::nullopt},
        {"device type negative", "[station]\ndeviceType=-1\n", {}, std::nullopt},
        {"garbage",
         QByteArray("\x01\x02[[[\xff\xfe=\n=\n[station\ndeviceType", 30),
         {},
         std::nullopt},
        {"empty", "", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(QStringLiteral("state.ini"), c.text);
        StationState state(Path(QStringLiteral("state.ini")));
        EXPECT_EQ(state.RecentFiles(), c.recent);
        EXPECT_EQ(state.DeviceType(), c.type);
        // And the station goes on writing it.
        state.SetDeviceType(1);
        EXPECT_TRUE(state.Persistent());
        EXPECT_EQ(StationState(Path(QStringLiteral("state.ini"))).DeviceType(), 1);
    }
}

TEST_F(StateFile, AFileThatIsNotOursOrCannotBeWrittenNeverStopsTheStation) {
    // A folder where the file should be, and a file far too large: neither
    // read nor touched; the state lives for the run.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.ini")));
    Write(QStringLiteral("large.ini"), QByteArray(kMaxStateFileBytes + 1, 'x'));
    for (const char* name : {"folder.ini", "large.ini"}) {
        SCOPED_TRACE(name);
        StationState state(Path(QString::fromLatin1(name)));
        EXPECT_FALSE(state.Persistent());
        state.AddRecentFile(QStringLiteral("/a/1.ini"));
        state.SetDeviceType(2);
        EXPECT_EQ(state.RecentFiles(), QStringList{"/a/1.ini"});
        EXPECT_EQ(state.DeviceType(), 2);
    }
    EXPECT_TRUE(QFileInfo(Path(QStringLiteral("folder.ini"))).isDir());
    EXPECT_EQ(QFileInfo(Path(QStringLiteral("large.ini"))).size(), kMaxStateFileBytes + 1);

    // A folder the station may not write into (root too, without its
    // override of the permissions).
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QFile::setPermissions(Path(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner);
    {
        test::ScopedNoDacOverride noOverride;
        ASSERT_FALSE(test::CanCreateIn(Path(QStringLiteral("locked")).toStdString()));
        StationState locked(Path(QStringLiteral("locked/state.ini")));
        locked.AddRecentFile(QStringLiteral("/a/1.ini"));
        EXPECT_FALSE(locked.Persistent());
        EXPECT_EQ(locked.RecentFiles(), QStringList{"/a/1.ini"});
    }
    QFile::setPermissions(Path(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
}  // namespace kx
