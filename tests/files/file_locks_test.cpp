// The side lock files of the file layer: when they exist, where they live, and who may join them.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <atomic>

#include "files/file_fixture.h"
#include "files/file_locks_internal.h"

namespace {

constexpr int32_t r = file_access_read, w = file_access_write;
constexpr uid_t nobody = 65534;

// Side files in the test's own folder, so other programs' files never count.
class SideFiles : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        parent_before = file_locks_folder_parent_set(dir);
    }
    void TearDown() override {
        file_handles_reset();
        file_locks_folder_parent_set(parent_before);
        file_test::TearDown();
    }
    std::string folder() const { return path("lumo-locks"); }
    std::string side_path(std::string_view name) const {
        struct stat st{};
        ::stat(path(name).c_str(), &st);
        return folder() + "/" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
    }
    std::string parent_before;
};

int entries(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..") ++n;
    ::closedir(d);
    return n;
}

TEST_F(SideFiles, TheLastCloseRemovesTheSideFile) {
    constexpr int files = 10000;
    for (int i = 0; i < files; ++i) {
        std::string name = path(std::string("f").append(std::to_string(i)));
        ::close(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));  // made first: no name search
        int32_t slot = file_handle_open(name, r, 0, file_create_never);
        ASSERT_GE(slot, 0) << i;
        ASSERT_EQ(file_handle_close(slot), 0);
    }
    EXPECT_EQ(entries(folder()), 0);
    // Two handles of one file: the side file goes with the second close only.
    int32_t a = file_handle_open(path("f0"), r, 0, file_create_never);
    int32_t b = file_handle_open(path("f0"), r, file_deny_write, file_create_never);
    ASSERT_GE(b, 0);
    ASSERT_EQ(file_handle_lock_range(b, 0, 9), 0);
    file_handle_close(a);
    EXPECT_EQ(entries(folder()), 1);
    EXPECT_EQ(file_handle_open(path("f0"), w, 0, file_create_open), file_denied);
    file_handle_close(b);
    EXPECT_EQ(entries(folder()), 0);
}

// Two processes take the file exclusively in turn as fast as they can, each closing (and so
// removing the side file) while the other opens: never are both inside at once.
TEST_F(SideFiles, SharingHoldsWhileOneProcessRemovesTheSideFileAndTheOtherReopens) {
    write_file("f", "shared");
    constexpr int rounds = 2000;
    void* page = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    auto* inside = new (page) std::atomic<int>(0);
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        if (child != 0) continue;
        int entered = 0;
        for (int i = 0; i < rounds; ++i) {
            int32_t slot = file_handle_open(path("f"), r | w, file_deny_read | file_deny_write, file_create_open);
            if (slot < 0) continue;
            if (inside->fetch_add(1) != 0) ::_exit(1);
            ++entered;
            // A while inside: the other opens meanwhile.
            for (int k = 0; k < 8; ++k) file_handle_write(slot, 0, "x", 1);
            inside->fetch_sub(1);
            file_handle_close(slot);
        }
        ::_exit(entered > 0 ? 0 : 2);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(entries(folder()), 0);
    ::munmap(page, sizeof(std::atomic<int>));
}

TEST_F(SideFiles, ALockFolderThatIsASymlinkIsNotFollowed) {
    ASSERT_EQ(::mkdir(path("elsewhere").c_str(), 0777), 0);
    ASSERT_EQ(::symlink(path("elsewhere").c_str(), folder().c_str()), 0);
    std::string runtime_before = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    std::string tmp_before = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.c_str(), 1);
    int32_t holder = file_handle_open(path("f"), r, file_deny_write, file_create_open);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(entries(path("elsewhere")), 0);
    // The user's own folder holds the side file, and the sharing rules hold through it.
    EXPECT_EQ(entries(path("lumo-locks-" + std::to_string(::geteuid()))), 1);
    EXPECT_EQ(file_handle_open(path("f"), w, 0, file_create_open), file_denied);
    file_handle_close(holder);
    EXPECT_EQ(entries(path("lumo-locks-" + std::to_string(::geteuid()))), 0);
    if (!runtime_before.empty()) ::setenv("XDG_RUNTIME_DIR", runtime_before.c_str(), 1);
    if (tmp_before.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", tmp_before.c_str(), 1);
}

// Another user (a child that becomes nobody) joins what it may open, and nothing else.
TEST_F(SideFiles, OnlyUsersWhoMayOpenTheFileJoinItsSideFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    write_file("readable", "x");
    write_file("private", "x");
    write_file("planted", "x");
    ASSERT_EQ(::chmod(path("readable").c_str(), 0644), 0);
    ASSERT_EQ(::chmod(path("private").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(path("planted").c_str(), 0640), 0);  // root could give a planted file the group
    int32_t readable = file_handle_open(path("readable"), r, file_deny_write, file_create_never);
    int32_t secret = file_handle_open(path("private"), r, 0, file_create_never);
    ASSERT_GE(secret, 0);
    ASSERT_EQ(file_handle_lock_range(readable, 0, 0), 0);
    std::string private_side = side_path("private"), planted_side = side_path("planted");
    int status = in_child([&] {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) return 10;
        int32_t slot = file_handle_open(path("readable"), r, 0, file_create_never);
        if (slot < 0) return 1;                                      // it may open the file: it joins
        if (file_handle_lock_range(slot, 0, 0) != file_denied) return 2;  // and root's lock holds for it
        if (file_handle_open(path("readable"), r, file_deny_read, file_create_never) != file_denied) return 3;
        if (::open(private_side.c_str(), O_RDONLY) >= 0) return 4;  // no way into the locks of a file it cannot open
        int planted = ::open(planted_side.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        return planted >= 0 ? 0 : 5;
    });
    EXPECT_EQ(status, 0);
    // A side file made by someone who may not open the file is refused, not obeyed nor ignored.
    EXPECT_EQ(file_handle_open(path("planted"), r, 0, file_create_never), file_denied);
}

TEST(SideFileDecisions, ItsBitsLetInEveryClassThatMayReadOrWriteTheFile) {
    for (mode_t real = 0; real <= 0777; ++real) {
        mode_t want = 0;
        if (real & (S_IRUSR | S_IWUSR)) want |= S_IRUSR | S_IWUSR;
        if (real & (S_IRGRP | S_IWGRP)) want |= S_IRGRP | S_IWGRP;
        if (real & (S_IROTH | S_IWOTH)) want |= S_IROTH | S_IWOTH;
        EXPECT_EQ(side_file_mode(real | S_IFREG | S_ISUID), want) << std::oct << real;
    }
}

TEST(SideFileDecisions, ALockFolderIsTrustedOnlyWhenNoOtherUserCanTamperWithIt) {
    constexpr uid_t me = 1000, other = 1001;
    const struct {
        const char* name;
        mode_t mode;
        uid_t owner;
        bool shared, want;
    } cases[] = {
        {"shared, mine", S_IFDIR | 0777, me, true, true},
        {"shared, root's and sticky", S_IFDIR | 01777, 0, true, true},
        {"shared, another user's and sticky", S_IFDIR | 01777, other, true, true},
        {"shared, another user's, not sticky", S_IFDIR | 0777, other, true, false},
        {"shared, root's, not sticky", S_IFDIR | 0777, 0, true, false},
        {"shared, set-group", S_IFDIR | 03777, 0, true, false},
        {"shared, not a folder", S_IFLNK | 01777, me, true, false},
        {"private, mine", S_IFDIR | 0700, me, false, true},
        {"private, mine, others may write", S_IFDIR | 0730, me, false, false},
        {"private, another user's", S_IFDIR | 0700, other, false, false},
        {"private, a file", S_IFREG | 0700, me, false, false},
    };
    for (const auto& c : cases) {
        struct stat st{};
        st.st_mode = c.mode;
        st.st_uid = c.owner;
        EXPECT_EQ(lock_folder_trusted(st, me, c.shared), c.want) << c.name;
    }
}

TEST(SideFileDecisions, ASideFileIsJoinedOnlyWhenItsMakerCouldOpenTheFile) {
    constexpr uid_t me = 1000, owner = 1001, stranger = 1002;
    constexpr gid_t file_group = 50, other_group = 60;
    const struct {
        const char* name;
        mode_t side_mode, real_mode;
        uid_t maker;
        gid_t side_group;
        nlink_t links;
        off_t size;
        bool want;
    } cases[] = {
        {"made by me", S_IFREG | 0600, 0600, me, other_group, 1, 0, true},
        {"made by root", S_IFREG | 0600, 0600, 0, other_group, 1, 4096, true},
        {"made by the file's owner", S_IFREG | 0600, 0600, owner, other_group, 1, 0, true},
        {"a stranger's, anyone may open the file", S_IFREG | 0666, 0644, stranger, other_group, 1, 0, true},
        {"a stranger's, given the file's group", S_IFREG | 0660, 0640, stranger, file_group, 1, 0, true},
        {"a stranger's, the file closed to others", S_IFREG | 0666, 0640, stranger, other_group, 1, 0, false},
        {"a stranger's, the group may not open it", S_IFREG | 0666, 0600, stranger, file_group, 1, 0, false},
        {"a second link to some file", S_IFREG | 0600, 0600, me, other_group, 2, 0, false},
        {"longer than a side file", S_IFREG | 0600, 0600, me, other_group, 1, 4097, false},
        {"a FIFO", S_IFIFO | 0600, 0600, me, other_group, 1, 0, false},
        {"removed meanwhile", S_IFREG | 0600, 0600, me, other_group, 0, 0, true},  // the name check retries
    };
    for (const auto& c : cases) {
        struct stat side{}, real{};
        side.st_mode = c.side_mode;
        side.st_uid = c.maker;
        side.st_gid = c.side_group;
        side.st_nlink = c.links;
        side.st_size = c.size;
        real.st_mode = S_IFREG | c.real_mode;
        real.st_uid = owner;
        real.st_gid = file_group;
        EXPECT_EQ(side_file_trusted(side, real, [] { return me; }), c.want) << c.name;
    }
}

}  // namespace
