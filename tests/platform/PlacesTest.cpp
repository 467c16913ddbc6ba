// Where the program finds its data and its volumes, from an installation, a folder of its
// own and a chroot.
#include "platform/MountTable.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace ov;
using namespace ov::test;

namespace {

void makePage(const QByteArray& folder)
{
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder + "/help")));
    writeFile(folder + "/help/help.html", "<p>help</p>");
}

} // namespace

TEST(Places, DataBesideTheProgramOrInTheInstallationsShareFolder)
{
    TempDir dir;
    const QByteArray bin = dir.file("usr/bin"), share = dir.file("usr/share/ombrevault");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(bin)));
    EXPECT_EQ(dataFolderFor(bin), bin) << "nothing anywhere: the program's own folder";
    makePage(share);
    EXPECT_EQ(dataFolderFor(bin), share);
    makePage(bin);
    EXPECT_EQ(dataFolderFor(bin), bin) << "a page beside the program comes first";
    // The tests run from the build tree, which is no installation.
    EXPECT_EQ(dataFolder(), programFolder());
    EXPECT_FALSE(runsInstalled());
}

TEST(Places, ARootThatIsNoMountPointStandsForItsVolume)
{
    MountTable chroot = MountTable::parse("30 1 0:5 / /proc rw - proc proc rw\n"
                                          "31 1 8:1 /srv/data /data rw - xfs /dev/sda1 rw\n");
    ASSERT_EQ(chroot.findRoot("/"), nullptr);
    chroot.addProcessRoot(8, 1, "xfs-by-statfs", false);
    const MountRecord* root = chroot.findRoot("/");
    ASSERT_NE(root, nullptr);
    // A mount of the same device tells the type and source.
    EXPECT_EQ(root->fileSystem, "xfs");
    EXPECT_EQ(root->source, "/dev/sda1");
    EXPECT_EQ(chroot.mountPointOf("/home/x"), "/");
    EXPECT_EQ(chroot.mountPointOf("/data/x"), "/data");

    MountTable alone = MountTable::parse("30 1 0:5 / /proc rw - proc proc rw\n");
    alone.addProcessRoot(8, 2, "ext4", true);
    ASSERT_NE(alone.findRoot("/"), nullptr);
    EXPECT_EQ(alone.findRoot("/")->fileSystem, "ext4");
    EXPECT_TRUE(alone.findRoot("/")->hasOption("ro"));

    // A listed root is left as it is.
    MountTable normal = MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n");
    normal.addProcessRoot(254, 0, "other", true);
    ASSERT_EQ(normal.records().size(), 1u);
    EXPECT_EQ(normal.findRoot("/")->fileSystem, "ext4");
}

// The command line in a chroot of a folder that is no mount point (as a debootstrap
// root is) finds the volume of "/".
TEST(Places, DriveInfoInAChroot)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root for a mount namespace and chroot";
    TempDir dir;
    const char scenario[] = R"(set -e
root=$1
mkdir -p "$root/usr" "$root/proc" "$root/ov"
for link in bin lib lib64; do [ -L "/$link" ] && ln -s "usr/$link" "$root/$link"; done
mount --bind /usr "$root/usr"
mount -t proc proc "$root/proc"
mount --bind "$2" "$root/ov"
exec chroot "$root" /ov/ombrevault-cli drive-info /
)";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("unshare",
                  {"--mount", "--propagation", "private", "sh", "-c", scenario, "sh",
                   QFile::decodeName(dir.path()), QFileInfo(OV_CLI_PATH).absolutePath()});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (output.contains("unshare failed"))
        GTEST_SKIP() << "no mount namespace here: " << output.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains("no mounted volume")) << output.toStdString();
}
