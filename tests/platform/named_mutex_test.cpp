// Named mutexes over abstract local sockets: in one process and across two.
#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <string>

namespace zk::platform {
namespace {

using Result = NamedMutex::CreateResult;

// Names unique to this process, so parallel test runs on one machine (the
// plain and the sanitizer build) never meet.
std::string UniqueName(const char* what) {
    return std::string("zorvek-test:") + what + ":" + std::to_string(getpid());
}

// The namespace a test run may set for its engines (see CMakeLists.txt).
std::string NamePrefix() {
    const char* space = std::getenv("ZORVEK_LOCK_NAMESPACE");
    return space != nullptr && space[0] != '\0' ? std::string("zorvek-") + space + "/" : std::string("zorvek/");
}

TEST(AbstractSocketNameTest, NamespaceSeparatesRuns) {
    const char* saved = std::getenv("ZORVEK_LOCK_NAMESPACE");
    std::string restore = saved != nullptr ? saved : "";
    setenv("ZORVEK_LOCK_NAMESPACE", "suite-a", 1);
    std::string in_a = AbstractSocketName("mutex", "zorvek1");
    setenv("ZORVEK_LOCK_NAMESPACE", "suite-b", 1);
    std::string in_b = AbstractSocketName("mutex", "zorvek1");
    unsetenv("ZORVEK_LOCK_NAMESPACE");
    std::string plain = AbstractSocketName("mutex", "zorvek1");
    if (saved != nullptr) setenv("ZORVEK_LOCK_NAMESPACE", restore.c_str(), 1);
    EXPECT_EQ(in_a.rfind("zorvek-suite-a/mutex/", 0), 0u) << in_a;
    EXPECT_NE(in_a, in_b);
    EXPECT_EQ(plain.rfind("zorvek/mutex/", 0), 0u) << plain;
}

TEST(AbstractSocketNameTest, ShortFixedLengthAndDistinct) {
    std::string a = AbstractSocketName("mutex", "zorvek1");
    EXPECT_EQ(a.rfind(NamePrefix() + "mutex/", 0), 0u) << a;
    EXPECT_EQ(a.size(), (NamePrefix() + "mutex/").size() + 16);
    EXPECT_EQ(a, AbstractSocketName("mutex", "zorvek1"));  // stable
    EXPECT_NE(a, AbstractSocketName("mutex", "zorvek2"));
    EXPECT_EQ(AbstractSocketName("window", "zorvek1").rfind(NamePrefix() + "window/", 0), 0u);
    EXPECT_NE(AbstractSocketName("window", "zorvek1"), a);  // kinds are separate
    // Any length fits the fixed address.
    std::string long_name(5000, 'x');
    EXPECT_EQ(AbstractSocketName("mutex", long_name).size(), a.size());
    // The hex digits come from both 32-bit halves.
    std::string hex = a.substr(a.size() - 16);
    for (char c : hex) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << hex;
}

TEST(NamedMutexTest, SecondCreateInOneProcessSeesIt) {
    std::string name = UniqueName("one");
    NamedMutex first;
    EXPECT_FALSE(first.Held());
    ASSERT_EQ(first.Create(name), Result::kCreated);
    EXPECT_TRUE(first.Held());
    NamedMutex second;
    EXPECT_EQ(second.Create(name), Result::kAlreadyExists);
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_FALSE(first.Held());
    EXPECT_EQ(second.Create(name), Result::kCreated);
    EXPECT_TRUE(second.Held());
}

TEST(NamedMutexTest, NamesAreExactBytes) {
    // Case folding is the caller's business (identity names are lower-cased).
    std::string name = UniqueName("Case");
    NamedMutex upper, lower;
    ASSERT_EQ(upper.Create(name), Result::kCreated);
    std::string lowered = name;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.Create(lowered), Result::kCreated);
    // A CP932 name with a 0x5C trail byte and a very long name work too.
    NamedMutex sjis, sjis2, long_one;
    std::string sjis_name = UniqueName("\x95\x5C\x8E\xA6");
    EXPECT_EQ(sjis.Create(sjis_name), Result::kCreated);
    EXPECT_EQ(sjis2.Create(sjis_name), Result::kAlreadyExists);
    EXPECT_EQ(long_one.Create(UniqueName("long") + std::string(1000, 'z')), Result::kCreated);
}

TEST(NamedMutexTest, DestructorAndMoveRelease) {
    std::string name = UniqueName("move");
    {
        NamedMutex scoped;
        ASSERT_EQ(scoped.Create(name), Result::kCreated);
        NamedMutex moved(std::move(scoped));
        EXPECT_FALSE(scoped.Held());
        EXPECT_TRUE(moved.Held());
        NamedMutex probe;
        EXPECT_EQ(probe.Create(name), Result::kAlreadyExists);
        NamedMutex assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(assigned.Held());
        EXPECT_EQ(probe.Create(name), Result::kAlreadyExists);
    }
    NamedMutex again;
    EXPECT_EQ(again.Create(name), Result::kCreated);
}

TEST(NamedMutexTest, CreateOnAHolderMovesItToTheNewName) {
    std::string a = UniqueName("a"), b = UniqueName("b");
    NamedMutex mutex;
    ASSERT_EQ(mutex.Create(a), Result::kCreated);
    ASSERT_EQ(mutex.Create(b), Result::kCreated);
    NamedMutex probe_a, probe_b;
    EXPECT_EQ(probe_a.Create(a), Result::kCreated);  // a was released
    EXPECT_EQ(probe_b.Create(b), Result::kAlreadyExists);
}

TEST(NamedMutexTest, AcrossTwoProcesses) {
    std::string name = UniqueName("fork");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        NamedMutex mutex;
        char status = mutex.Create(name) == Result::kCreated ? 'C' : 'F';
        if (write(ready[1], &status, 1) != 1) _exit(3);
        char go;
        ssize_t n = read(release[0], &go, 1);  // hold the mutex until the parent says
        (void)n;
        _exit(status == 'C' ? 0 : 1);  // exiting releases it: no destructor needed
    }
    close(ready[1]);
    close(release[0]);
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    ASSERT_EQ(status, 'C');

    NamedMutex mine;
    EXPECT_EQ(mine.Create(name), Result::kAlreadyExists);  // the other process holds it

    close(release[1]);  // the child reads EOF and exits
    int wait_status = 0;
    ASSERT_EQ(waitpid(child, &wait_status, 0), child);
    EXPECT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), 0);
    close(ready[0]);

    // The kernel freed the name with the process, as Windows frees a mutex.
    EXPECT_EQ(mine.Create(name), Result::kCreated);
}

TEST(NamedMutexTest, ChildSeesTheParentsMutex) {
    std::string name = UniqueName("parent");
    NamedMutex mine;
    ASSERT_EQ(mine.Create(name), Result::kCreated);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child inherits the descriptor across fork but not across exec
        // (SOCK_CLOEXEC); either way the name stays taken.
        NamedMutex theirs;
        _exit(theirs.Create(name) == Result::kAlreadyExists ? 0 : 1);
    }
    int wait_status = 0;
    ASSERT_EQ(waitpid(child, &wait_status, 0), child);
    EXPECT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), 0);
}

}  // namespace
}  // namespace zk::platform
