// wipe -r: every file under a folder, what is in a tree besides files, and the places a
// walk must not go.
#include "cli/CliFixture.h"
#include "cli/TreeWalk.h"
#include "platform/PathText.h"
#include "support/Tmpfs.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace ov {
namespace {

class CliTree : public Cli
{
protected:
    QByteArray at(const QByteArray& name) const { return dir.file(name); }
    void folder(const QByteArray& name) const
    {
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(at(name))));
    }
    void file(const QByteArray& name, const QByteArray& content = "confidential") const
    {
        test::writeFile(at(name), content);
    }
    void link(const QByteArray& target, const QByteArray& name) const
    {
        ASSERT_EQ(::symlink(target.constData(), at(name).constData()), 0);
    }
    void fifo(const QByteArray& name) const { ASSERT_EQ(::mkfifo(at(name).constData(), 0644), 0); }
    void socket(const QByteArray& name) const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = at(name);
        ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
        std::copy(path.begin(), path.end(), address.sun_path);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    // The line a record of the command prints for a path below the test's folder; a
    // destroyed file's line ends with its verdict.
    QString line(const char* what, const QByteArray& name, const char* after = nullptr) const
    {
        if (!after)
            after = QByteArray(what) == "destroyed" ? ": verified on the device" : "";
        return QString(what) + ' ' + QString::fromUtf8(quotedPathBytes(at(name))) + after + '\n';
    }
};

// Depth first, hidden files included, entries in byte order, a folder's entries before
// the folder; links, FIFOs and sockets go by name and nothing they lead to is touched.
TEST_F(CliTree, DestroysEveryFileRemovesTheRestByNameAndFoldersBottomUp)
{
    folder("outside/folder");
    file("outside/target", "keep");
    file("outside/folder/inner", "keep");
    folder("top/sub/.deep");
    folder("top/empty");
    file("top/.hidden");
    file("top/a.txt");
    file("top/bad\377");
    file("top/new\nline");
    file("top/sub/.deep/x");
    link(at("outside/target"), "top/sub/link-to-file");
    link(at("outside/folder"), "top/sub/link-to-folder");
    link("/no/such/place", "top/sub/dangling");
    fifo("top/sub/fifo");
    socket("top/sub/socket");

    // Relative, with a slash at its end: the folder itself.
    const Result result = wipe({"-r", "-v", "--level", "least", "top/"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out,
              line("destroyed", "top/.hidden") + line("destroyed", "top/a.txt") +
                  line("destroyed", "top/bad\377") + line("removed folder", "top/empty") +
                  line("destroyed", "top/new\nline") + line("destroyed", "top/sub/.deep/x") +
                  line("removed folder", "top/sub/.deep") +
                  line("removed", "top/sub/dangling", " (symbolic link)") +
                  line("removed", "top/sub/fifo", " (FIFO)") +
                  line("removed", "top/sub/link-to-file", " (symbolic link)") +
                  line("removed", "top/sub/link-to-folder", " (symbolic link)") +
                  line("removed", "top/sub/socket", " (socket)") +
                  line("removed folder", "top/sub") + line("removed folder", "top"));
    EXPECT_FALSE(exists(at("top")));
    EXPECT_EQ(readFile(at("outside/target")), "keep");
    EXPECT_EQ(readFile(at("outside/folder/inner")), "keep");
}

// What may not be walked is refused, and nothing is touched for it.
TEST_F(CliTree, RefusesFoldersWithoutRLinksToFoldersAndTheRoot)
{
    folder("real");
    file("real/kept");
    link(at("real"), "shortcut");
    Result result = wipe({"real"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("Is a folder, not a regular file (-r destroys a folder"))
        << result.err.toStdString();
    result = wipe({"-r", "shortcut"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("shortcut: Is a symbolic link")) << result.err.toStdString();
    // A trailing slash names a folder: a file named so is not taken, and not called a folder.
    result = wipe({"real/kept/"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("kept/: Ends in a slash")) << result.err.toStdString();
    // A dry run, so that a fault here could not cost the machine its files.
    for (const QString& named : {QString("/"), QString("//"), QString("real/."), QString("real/.."),
                                 QString("./"), QString("real/.//"), QString("real/../")}) {
        result = wipe({"-rn", named});
        EXPECT_EQ(result.exitCode, 1) << named.toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << named.toStdString();
        EXPECT_TRUE(result.err.contains("Refused")) << result.err.toStdString();
    }
    EXPECT_EQ(readFile(at("real/kept")), "confidential");
    EXPECT_TRUE(exists(at("shortcut")));
}

// A device node is a way to a disk or a driver: refused, and so its folder stays.
TEST_F(CliTree, RefusesDeviceNodes)
{
    folder("top");
    file("top/file");
    if (::mknod(at("top/null").constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    const Result result = wipe({"-r", "top"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(at("top/null") + ": Is a device, not a regular file; it is "
                                                     "left alone"))
        << result.err.toStdString();
    EXPECT_FALSE(exists(at("top/file")));
    EXPECT_TRUE(exists(at("top/null")));
}

// -n walks the same way and touches nothing.
TEST_F(CliTree, DryRunWalksTheTreeAndTouchesNothing)
{
    folder("top/sub");
    file("top/sub/x");
    link("x", "top/sub/l");
    const Result result = wipe({"-rn", "top"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, line("would remove", "top/sub/l", " (symbolic link)") +
                              line("would destroy", "top/sub/x") +
                              line("would remove folder", "top/sub") +
                              line("would remove folder", "top"));
    EXPECT_EQ(readFile(at("top/sub/x")), "confidential");
    EXPECT_TRUE(exists(at("top/sub/l")));
}

// A folder its user may not read, a file whose permission cannot be changed: the rest is
// destroyed, they and the folders above them stay, and each failure is told once. Run as
// an ordinary user, for whom permissions count.
TEST_F(CliTree, WhatCannotBeDestroyedIsReportedOnceAndTheRestDestroyed)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!test::runningAsRoot() || !nobody)
        GTEST_SKIP() << "needs root, to run the command as the user nobody";
    folder("tree/open");
    folder("tree/locked");
    folder("other");
    file("tree/open/f");
    file("tree/locked/secret");
    file("tree/z");
    file("other/g");
    file("other/theirs");
    for (const char* name : {"tree", "tree/open", "tree/locked", "tree/open/f",
                             "tree/locked/secret", "tree/z", "other", "other/g"})
        ASSERT_EQ(::chown(at(name).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(at("tree/locked").constData(), 0300), 0);  // no reading, no listing
    ASSERT_EQ(::chmod(at("other/theirs").constData(), 0444), 0); // root's, read-only
    ASSERT_EQ(::chmod(dir.path().constData(), 0755), 0);

    test::Child::Options options;
    options.user = nobody->pw_uid;
    auto child = spawn({"wipe", "-r", "-f", "--no-log", "-l", "least", "tree", "other"}, options);
    ASSERT_TRUE(child->wait());
    EXPECT_TRUE(child->exitedWith(1)) << child->howItEnded().constData() << child->err.constData();
    EXPECT_EQ(child->err, "ombrevault-cli: " + at("tree/locked") + ": Permission denied\n" +
                              "ombrevault-cli: " + at("other/theirs") +
                              ": Operation not permitted\n");
    EXPECT_EQ(child->out, line("destroyed", "tree/open/f").toUtf8() +
                              line("destroyed", "tree/z").toUtf8() +
                              line("destroyed", "other/g").toUtf8());
    EXPECT_EQ(readFile(at("tree/locked/secret")), "confidential");
    EXPECT_EQ(readFile(at("other/theirs")), "confidential");
    EXPECT_FALSE(exists(at("tree/open")));
}

// A mount point inside the tree: with -x it is not entered (and said so), without it the
// files there are destroyed and the mount point itself cannot go.
TEST_F(CliTree, OneFileSystemDoesNotEnterAMountPoint)
{
    folder("top/sub");
    file("top/a");
    file("top/sub/b");
    test::Tmpfs mount(1 << 20, at("top/mnt"));
    if (!mount.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    file("top/mnt/m");

    Result result = wipe({"-r", "-x", "top"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ombrevault-cli: " + at("top/mnt") +
                              ": Is on another file system; not entered (--one-file-system)\n");
    EXPECT_EQ(result.out, line("destroyed", "top/a") + line("destroyed", "top/sub/b"));
    EXPECT_EQ(readFile(at("top/mnt/m")), "confidential");
    EXPECT_FALSE(exists(at("top/sub")));

    result = wipe({"-r", "top"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, line("destroyed", "top/mnt/m", ": overwritten (memory only)"));
    EXPECT_TRUE(result.err.contains(at("top/mnt") + ": Device or resource busy"))
        << result.err.toStdString();
    EXPECT_FALSE(exists(at("top/mnt/m")));
}

// A tree deeper than a path can name (paths of 60 KB) and deeper than the descriptors
// a process may hold goes as rm -rf takes it: each file destroyed through its held
// folder, the folders bottom up.
TEST_F(CliTree, DestroysATreeDeeperThanAPathCanName)
{
    folder("top");
    test::DeepTree tree(at("top"), 300, 200);
    tree.writeFile(150, "middle", "confidential");
    tree.writeFile(300, "bottom", "confidential");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromUtf8(dir.path()));
    process.start("sh", {"-c", "ulimit -n 100 && exec \"$0\" \"$@\"", OV_CLI_PATH, "wipe", "-r",
                         "--level", "medium", "top"});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardError().left(2000), "");
    const QByteArray middle = tree.folder(150).mid(dir.path().size() + 1) + "/middle";
    const QByteArray bottom = tree.folder(300).mid(dir.path().size() + 1) + "/bottom";
    // The folder's name sorts before "middle".
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()),
              line("destroyed", bottom) + line("destroyed", middle));
    EXPECT_FALSE(exists(at("top")));
}

// A folder is let go while the walk is below it and taken back only when it is still
// the folder it was: through "..", else by its path. Moved both ways, what is left in it
// is left with the reason, and the walk goes on where it can.
TEST_F(CliTree, AFolderThatCannotBeTakenBackIsLeftWithTheReason)
{
    folder("top/a/deep");
    folder("elsewhere");
    file("top/a/deep/file");
    file("top/a/z");
    file("top/b");
    struct Visitor : cli::WalkVisitor
    {
        std::function<void()> onFile;
        QStringList seen;
        void namedFile(const QByteArray&) override {}
        void file(const fs::Folder& folder, const QByteArray& name, const fs::EntryInfo&) override
        {
            seen << "file " + QString::fromUtf8(folder.pathOf(name));
            if (onFile)
                std::exchange(onFile, nullptr)();
        }
        void special(const fs::Folder&, const QByteArray&, const fs::EntryInfo&) override {}
        void emptied(const fs::Folder& parent, const QByteArray& name) override
        {
            seen << "emptied " + QString::fromUtf8(parent.pathOf(name));
        }
        void failed(const Error& error) override
        {
            seen << "failed " + QString::fromUtf8(error.path()) + ": " + error.message();
        }
    } visitor;
    // The folder below is moved away (".." leads elsewhere), and its old parent renamed
    // (the path leads nowhere).
    visitor.onFile = [&] {
        ASSERT_EQ(::rename(at("top/a/deep").constData(), at("elsewhere/deep").constData()), 0);
        ASSERT_EQ(::rename(at("top/a").constData(), at("top/renamed").constData()), 0);
    };
    InPlaceRunner runner;
    StopChannel stop;
    cli::TreeWalk(runner, stop, {true, false}, visitor).walk(at("top"));
    EXPECT_EQ(visitor.seen,
              QStringList({"file " + at("top/a/deep/file"),
                           "failed " + at("top/a") +
                               ": Was moved while the folders in it were being destroyed; what "
                               "is left in it is left alone",
                           "file " + at("top/b")}));
}

} // namespace
} // namespace ov
