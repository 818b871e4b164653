// Text mode of the standard streams: CR LF line ends out, CR LF read as one.
#include "support.h"

#include <thread>
#include <unistd.h>
#include <vector>

#include "textmode.h"

namespace {

// A pipe whose ends are closed when it goes out of scope.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe()
    {
        close_end(0);
        close_end(1);
    }
    void close_end(int i)
    {
        if (fds[i] != -1)
            close(fds[i]);
        fds[i] = -1;
    }
};

std::string read_all(int fd)
{
    std::string s;
    char buf[256];
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

std::string repeat(const std::string &s, int times)
{
    std::string r;
    for (int i = 0; i < times; ++i)
        r += s;
    return r;
}

TEST(TextModeOut, EachLineEndGoesOutAsCrLf)
{
    Pipe p;
    FILE *f = open_text_stream(p.fds[1], "w");
    ASSERT_NE(f, nullptr);
    std::string written = "Hello!\nSpeed is: 10\n\nEnter: " + repeat("ab\n", 3000); // more than one buffer
    std::thread writer([&] {
        fputs(written.c_str(), f);
        fclose(f);
        p.close_end(1);
    });
    std::string got = read_all(p.fds[0]);
    writer.join();
    EXPECT_EQ(got, "Hello!\r\nSpeed is: 10\r\n\r\nEnter: " + repeat("ab\r\n", 3000));
}

TEST(TextModeOut, WriteErrorIsReported)
{
    Pipe p;
    p.close_end(0);
    signal(SIGPIPE, SIG_IGN);
    FILE *f = open_text_stream(p.fds[1], "w");
    ASSERT_NE(f, nullptr);
    fputs("lost\n", f);
    EXPECT_EQ(fflush(f), EOF);
    fclose(f);
}

struct InCase {
    const char *name;
    std::vector<std::string> chunks; // written one at a time, with a pause between
    std::vector<std::string> lines;  // what fgets returns, in order
};

std::ostream &operator<<(std::ostream &os, const InCase &c)
{
    return os << c.name;
}

class TextModeIn : public ::testing::TestWithParam<InCase> {};

TEST_P(TextModeIn, CrLfReadsAsOneLineEnd)
{
    Pipe p;
    std::thread writer([&] {
        for (const auto &chunk : GetParam().chunks) {
            EXPECT_EQ(write(p.fds[1], chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        p.close_end(1);
    });
    FILE *f = open_text_stream(p.fds[0], "r");
    ASSERT_NE(f, nullptr);
    std::vector<std::string> lines;
    char buf[255];
    while (fgets(buf, sizeof buf, f) != nullptr)
        lines.emplace_back(buf);
    fclose(f);
    writer.join();
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Inputs, TextModeIn,
                         ::testing::Values(InCase{"crlf", {"15\r\n\r\nx\r\n"}, {"15\n", "\n", "x\n"}},
                                           InCase{"lf", {"15\nx"}, {"15\n", "x"}},
                                           InCase{"lone_cr_stays", {"a\rb\r\r\n"}, {"a\rb\r\n"}},
                                           InCase{"cr_at_end_of_input", {"a\r"}, {"a\r"}},
                                           InCase{"crlf_split_between_reads", {"15\r", "\nx\r", "y"}, {"15\n", "x\ry"}},
                                           InCase{"empty", {}, {}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TextModeInError, ReadErrorEndsTheInput)
{
    FILE *f = open_text_stream(-1, "r");
    ASSERT_NE(f, nullptr);
    char buf[8] = "keep";
    EXPECT_EQ(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "keep");
    fclose(f);
}

} // namespace
