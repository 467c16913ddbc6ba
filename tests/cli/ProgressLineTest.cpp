// The parts of the command line that need no process: the progress line's fitting and
// figures, and the parsing of words into options and paths.
#include "cli/Commands.h"
#include "cli/Options.h"

#include <QString>

#include <gtest/gtest.h>

namespace ov::cli {
namespace {

const std::vector<std::vector<QByteArray>> kFigures = {
    {"45% 12.3 MiB of 100 MiB", "45.6 MiB/s", "0:12 left"}, {"45% 12M/100M", "0:12 left", "46M/s"}};

// Whatever the width, the line stays within it (its last column free), and what it
// shows is the most it can: the bar and every figure, then less, the name last of all.
TEST(ProgressLine, FitsEveryWidthAndGivesWayInOrder)
{
    const QByteArray name = "/home/somebody/Documents/a-long-name-of-a-file.txt";
    for (int columns = 1; columns <= 200; ++columns) {
        const QByteArray line = fitProgressLine(0.45, kFigures, name, columns);
        EXPECT_LE(displayWidth(line), std::max(columns - 1, 0)) << columns << line.constData();
    }
    const auto fit = [&](int columns) {
        return fitProgressLine(0.45, kFigures, name, columns).toStdString();
    };
    EXPECT_EQ(fit(200), "[#########           ] 45% 12.3 MiB of 100 MiB  45.6 MiB/s  0:12 left  " +
                            name.toStdString());
    EXPECT_EQ(fit(80), "[####      ] 45% 12.3 MiB of 100 MiB  45.6 MiB/s  0:12 left  "
                       "...e-of-a-file.txt");
    EXPECT_EQ(fit(60), "45% 12.3 MiB of 100 MiB  45.6 MiB/s  0:12 left  ...file.txt");
    EXPECT_EQ(fit(40), "45% 12M/100M  0:12 left  ...-a-file.txt");
    EXPECT_EQ(fit(25), "45% 12M/100M  ...ile.txt");
    EXPECT_EQ(fitProgressLine(0.45, kFigures, {}, 25).toStdString(), "45% 12M/100M  0:12 left");
    EXPECT_EQ(fit(14), "45% 12M/100M");
    EXPECT_EQ(fit(8), "45% 12M");
    EXPECT_EQ(fitProgressLine(1.0, {{"done"}}, {}, 80).toStdString(),
              "[####################] done");
}

// A character beyond ASCII counts double, and a name is never cut inside one.
TEST(ProgressLine, CutsNamesAtWholeCharacters)
{
    const QByteArray name = "/tmp/\xc3\xa9t\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac";
    EXPECT_EQ(displayWidth(name), 5 + 2 + 1 + 2 + 1 + 2 + 2);
    for (int columns = 10; columns < 40; ++columns) {
        const QByteArray line = fitProgressLine(0, {{"0%"}}, name, columns);
        EXPECT_TRUE(QString::fromUtf8(line).toUtf8() == line) << columns << line.constData();
        EXPECT_LE(displayWidth(line), columns - 1) << columns;
    }
}

TEST(ProgressLine, SizesAndDurations)
{
    EXPECT_EQ(sizeText(0), "0 B");
    EXPECT_EQ(sizeText(1023), "1023 B");
    EXPECT_EQ(sizeText(1024), "1.0 KiB");
    EXPECT_EQ(sizeText(12900000), "12.3 MiB");
    EXPECT_EQ(sizeText(qint64(300) << 20), "300 MiB");
    EXPECT_EQ(sizeText(qint64(5) << 30, true), "5.0G");
    EXPECT_EQ(sizeText(qint64(48) << 20, true), "48M");
    EXPECT_EQ(sizeText(512, true), "512B");
    EXPECT_EQ(durationText(7), "0:07");
    EXPECT_EQ(durationText(754), "12:34");
    EXPECT_EQ(durationText(3723), "1:02:03");
}

// The cases where a parser is easily wrong: values that look like options, clusters, the
// words after "--", and problems that name the word.
TEST(Options, WordsBecomeOptionsAndPaths)
{
    const std::vector<OptionRule> rules = {{'l', "level", 'l', true},
                                           {'q', "quiet", 'q', false},
                                           {256, "no-log", 0, false},
                                           {257, "no-scramble", 0, false}};
    ParsedArguments parsed = parseArguments({"a", "-ql", "-q", "--", "-q", "--no-log"}, rules);
    EXPECT_TRUE(parsed.problem.isEmpty());
    ASSERT_EQ(parsed.options.size(), 2u);
    EXPECT_EQ(parsed.options[0], (std::pair<int, QByteArray>('q', "")));
    EXPECT_EQ(parsed.options[1], (std::pair<int, QByteArray>('l', "-q")));
    EXPECT_EQ(parsed.operands, (std::vector<QByteArray>{"a", "-q", "--no-log"}));

    parsed = parseArguments({"--no-l", "-", "--level=", "--lev", "x"}, rules);
    EXPECT_TRUE(parsed.problem.isEmpty()) << parsed.problem.constData();
    EXPECT_EQ(parsed.operands, std::vector<QByteArray>{"-"});
    EXPECT_EQ(parsed.options.size(), 3u);

    EXPECT_EQ(parseArguments({"--no"}, rules).problem,
              "option '--no' is ambiguous; it could be --no-log --no-scramble");
    EXPECT_EQ(parseArguments({"-x\n"}, rules).problem, "unknown option '-x'");
    EXPECT_EQ(parseArguments({"--bad\nname=1"}, rules).problem.toStdString(),
              "unknown option '--bad'$'\\n''name'");
    // A second parse in the same process starts afresh.
    EXPECT_EQ(parseArguments({"a", "-l"}, rules).problem, "option '-l' needs a value");
    EXPECT_EQ(parseArguments({"-l"}, rules).problem, "option '-l' needs a value");
}

} // namespace
} // namespace ov::cli
