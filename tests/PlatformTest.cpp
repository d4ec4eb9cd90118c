// The mount and drive layer: mountinfo tables copied from real machines, and the machine the
// tests run on.

#include "TestTree.h"
#include "platform/Drives.h"
#include "platform/Mounts.h"
#include "platform/NamedMutex.h"
#include "platform/SysError.h"
#include "support/QvLogger.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace qv;

// A laptop with an NVMe disk, a USB stick plugged in, snaps and a desktop session.
constexpr const char* LaptopTable =
    R"(22 29 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw
23 29 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:14 - proc proc rw
24 29 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=7953124k,nr_inodes=1988281,mode=755,inode64
25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,gid=5,mode=620,ptmxmode=000
26 29 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,size=1597440k,mode=755,inode64
29 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro
27 22 0:6 / /sys/kernel/security rw,nosuid,nodev,noexec,relatime shared:8 - securityfs securityfs rw
28 24 0:25 / /dev/shm rw,nosuid,nodev shared:4 - tmpfs tmpfs rw,inode64
30 26 0:26 / /run/lock rw,nosuid,nodev,noexec,relatime shared:6 - tmpfs tmpfs rw,size=5120k,inode64
31 22 0:27 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw,nsdelegate,memory_recursiveprot
32 22 0:28 / /sys/fs/pstore rw,nosuid,nodev,noexec,relatime shared:10 - pstore pstore rw
33 22 0:29 / /sys/firmware/efi/efivars rw,nosuid,nodev,noexec,relatime shared:11 - efivarfs efivarfs rw
34 22 0:30 / /sys/fs/bpf rw,nosuid,nodev,noexec,relatime shared:12 - bpf bpf rw,mode=700
35 23 0:31 / /proc/sys/fs/binfmt_misc rw,relatime shared:13 - autofs systemd-1 rw,fd=29,pgrp=1,timeout=0,minproto=5,maxproto=5,direct,pipe_ino=17873
36 24 0:20 / /dev/mqueue rw,nosuid,nodev,noexec,relatime shared:15 - mqueue mqueue rw
37 24 0:32 / /dev/hugepages rw,relatime shared:16 - hugetlbfs hugetlbfs rw,pagesize=2M
38 22 0:7 / /sys/kernel/debug rw,nosuid,nodev,noexec,relatime shared:17 - debugfs debugfs rw
39 22 0:12 / /sys/kernel/tracing rw,nosuid,nodev,noexec,relatime shared:18 - tracefs tracefs rw
40 22 0:33 / /sys/fs/fuse/connections rw,nosuid,nodev,noexec,relatime shared:19 - fusectl fusectl rw
41 22 0:34 / /sys/kernel/config rw,nosuid,nodev,noexec,relatime shared:20 - configfs configfs rw
60 29 7:0 / /snap/bare/5 ro,nodev,relatime shared:31 - squashfs /dev/loop0 ro,errors=continue
63 29 7:1 / /snap/core22/1122 ro,nodev,relatime shared:33 - squashfs /dev/loop1 ro,errors=continue
90 29 259:1 / /boot/efi rw,relatime shared:47 - vfat /dev/nvme0n1p1 rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,errors=remount-ro
1050 35 0:48 / /proc/sys/fs/binfmt_misc rw,nosuid,nodev,noexec,relatime shared:547 - binfmt_misc binfmt_misc rw
1201 26 0:49 / /run/user/1000 rw,nosuid,nodev,relatime shared:620 - tmpfs tmpfs rw,size=1597436k,nr_inodes=399359,mode=700,uid=1000,gid=1000,inode64
1230 1201 0:50 / /run/user/1000/doc rw,nosuid,nodev,relatime shared:639 - fuse.portal portal rw,user_id=1000,group_id=1000
1250 1201 0:51 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:650 - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=1000,group_id=1000
1301 29 8:17 / /media/user/USB\040STICK rw,nosuid,nodev,relatime shared:700 - vfat /dev/sdb1 rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,iocharset=iso8859-1,shortname=mixed,showexec,utf8,flush,errors=remount-ro
1320 29 11:0 / /media/user/Ubuntu\04022.04.3\040LTS\040amd64 ro,nosuid,nodev,relatime shared:720 - iso9660 /dev/sr0 ro,nojoliet,check=relaxed,map=n,blocksize=2048,iocharset=utf8
1340 29 8:33 / /media/user/Backup rw,nosuid,nodev,relatime shared:740 - ext4 /dev/sdc1 rw
)";

// A workstation with its home on NFS and a few more network shares.
constexpr const char* NetworkTable =
    R"(24 1 253:0 / / rw,relatime shared:1 - xfs /dev/mapper/rhel-root rw,seclabel,attr2,inode64,logbufs=8,logbsize=32k,noquota
30 24 0:45 / /var/lib/nfs/rpc_pipefs rw,relatime shared:60 - rpc_pipefs sunrpc rw
31 24 0:46 / /proc/fs/nfsd rw,relatime shared:61 - nfsd nfsd rw
120 24 0:52 / /home/shared rw,relatime shared:70 - nfs4 fileserver.example.org:/export/home rw,vers=4.2,rsize=1048576,wsize=1048576,namlen=255,hard,proto=tcp,timeo=600,retrans=2,sec=sys,clientaddr=192.168.1.20,local_lock=none,addr=192.168.1.5
121 24 0:53 / /mnt/legacy rw,relatime shared:71 - nfs nas:/volume1/backup rw,vers=3,rsize=131072,wsize=131072,namlen=255,hard,proto=tcp,timeo=600,retrans=2,sec=sys,mountaddr=192.168.1.6,mountvers=3,mountport=892,mountproto=udp,local_lock=none,addr=192.168.1.6
122 24 0:54 / /mnt/win rw,relatime shared:72 - cifs //winserver/Public\040Share rw,vers=3.1.1,cache=strict,username=user,uid=1000,noforceuid,gid=1000,noforcegid,addr=192.168.1.7,file_mode=0755,dir_mode=0755,soft,nounix,serverino,mapposix,rsize=4194304,wsize=4194304,bsize=1048576,echo_interval=60,actimeo=1
123 24 0:55 / /home/user/remote rw,nosuid,nodev,relatime shared:73 - fuse.sshfs user@host:/srv rw,user_id=1000,group_id=1000
124 24 0:56 / /mnt/cloud rw,nosuid,nodev,relatime shared:74 - fuse.rclone gdrive: rw,user_id=1000,group_id=1000
125 24 0:57 / /mnt/c rw,noatime shared:75 - 9p drvfs rw,dirsync,aname=drvfs;path=C:\;uid=1000;gid=1000;symlinkroot=/mnt/,mmap,access=client,msize=65536,trans=fd,rfd=5,wfd=5
126 24 0:58 / /mnt/smb3 rw,relatime shared:76 - smb3 //nas/media rw,vers=3.0
127 24 0:59 / /mnt/ceph rw,relatime shared:77 - ceph 192.168.1.8:6789:/ rw,name=admin,secret=<hidden>,acl
)";

// Bind mounts of a subdirectory and of the root file system: one drive per device.
constexpr const char* BindTable =
    R"(29 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro
95 29 259:3 / /home rw,relatime shared:50 - ext4 /dev/nvme0n1p3 rw
140 29 259:3 /user/projects /srv/projects rw,relatime shared:50 - ext4 /dev/nvme0n1p3 rw
141 29 259:2 /var/lib/docker /mnt/docker rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro
142 29 0:40 / /mnt/scratch rw,relatime shared:80 - tmpfs tmpfs rw,size=1048576k
143 29 0:40 / /mnt/scratch-again rw,relatime shared:80 - tmpfs tmpfs rw,size=1048576k
)";

// The view from inside a container: an overlay root and the runtime's own pseudo mounts.
constexpr const char* ContainerTable =
    R"(1318 1160 0:82 / / rw,relatime master:431 - overlay overlay rw,lowerdir=/var/lib/docker/overlay2/l/Q2XNLDZ3GO6RWCGK6TNPEJSMWO:/var/lib/docker/overlay2/l/VYDX5M3GIW4U2AQVPW7I6ZHQPE,upperdir=/var/lib/docker/overlay2/9a7d0c1e/diff,workdir=/var/lib/docker/overlay2/9a7d0c1e/work
1319 1318 0:85 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw
1320 1318 0:86 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755,inode64
1321 1320 0:87 / /dev/pts rw,nosuid,noexec,relatime - devpts devpts rw,gid=5,mode=620,ptmxmode=666
1322 1318 0:88 / /sys ro,nosuid,nodev,noexec,relatime - sysfs sysfs ro
1323 1322 0:30 / /sys/fs/cgroup ro,nosuid,nodev,noexec,relatime - cgroup2 cgroup rw,nsdelegate,memory_recursiveprot
1324 1320 0:84 / /dev/mqueue rw,nosuid,nodev,noexec,relatime - mqueue mqueue rw
1325 1320 0:89 / /dev/shm rw,nosuid,nodev,noexec,relatime - tmpfs shm rw,size=65536k,inode64
1161 1319 0:85 /bus /proc/bus ro,nosuid,nodev,noexec,relatime - proc proc rw
1162 1319 0:90 / /proc/acpi ro,relatime - tmpfs tmpfs ro,inode64
)";

// "root type, root type, ..." for the drives, so that a failure shows the whole list at once.
std::string Describe(const std::vector<TDrive>& Drives) {
    static const char* const names[] = {"unknown", "removable", "fixed",
                                        "remote",  "cdrom",     "ramdisk"};
    std::string result;
    for (const TDrive& drive : Drives)
        result += (result.empty() ? "" : ", ") + drive.Root + " " + names[drive.Type];
    return result;
}

// Every field of an entry, separated by "|".
std::string Fields(const TMountEntry& E) {
    return std::to_string(E.MountId) + "|" + std::to_string(E.ParentId) + "|" +
           std::to_string(E.Major) + ":" + std::to_string(E.Minor) + "|" + E.Root + "|" +
           E.MountPoint + "|" + E.Options + "|" + E.FsType + "|" + E.Source + "|" + E.SuperOptions;
}

bool NeverRemovable(unsigned, unsigned) {
    return false;
}

const TMountEntry* FindMount(const std::vector<TMountEntry>& Table, const std::string& Point) {
    const TMountEntry* found = nullptr;
    for (const TMountEntry& entry : Table)
        if (entry.MountPoint == Point)
            found = &entry;
    return found;
}

// Collects the debug lines written while it lives.
class TLogCapture {
public:
    TLogCapture() {
        Previous = SetLogSink([this](TLogLevel level, std::string_view message) {
            if (level == llDebug)
                Lines.emplace_back(message);
        });
    }
    ~TLogCapture() { SetLogSink(std::move(Previous)); }

    std::vector<std::string> Lines;

private:
    TLogSink Previous;
};

using test::TTempDir;

// Runs Body in a forked child inside a private mount namespace, so that it can mount
// without touching the machine. Body returns an empty text on success, else what failed.
// No value when this machine does not allow a mount namespace.
std::optional<std::string> InPrivateMountNamespace(const std::function<std::string()>& Body) {
    FILE* report = std::tmpfile();
    const pid_t child = report ? ::fork() : -1;
    if (child == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        bool ok = ::unshare(CLONE_NEWNS) == 0;
        if (!ok && uid != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
            ok = true;
        }
        if (!ok || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        const std::string text = Body();
        [[maybe_unused]] ssize_t n = ::write(::fileno(report), text.data(), text.size());
        ::_exit(0);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::string text;
    if (report) {
        std::rewind(report);
        for (int c; (c = std::fgetc(report)) != EOF;)
            text += char(c);
        std::fclose(report);
    }
    if (child < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 77))
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child did not finish normally; " + text;
    return text;
}

bool WriteFile(const fs::path& Path, const std::string& Text) {
    std::ofstream out(Path);
    out << Text;
    return bool(out);
}

// ---------------------------------------------------------------------------------------
// Parsing

TEST(MountInfoParse, ReadsEveryFieldOfARealTable) {
    const std::vector<TMountEntry> table = ParseMountInfo(LaptopTable);
    std::vector<int> ids;
    for (const TMountEntry& entry : table)
        ids.push_back(entry.MountId);
    // Every line, in the order of the text.
    EXPECT_EQ(ids, (std::vector<int>{22, 23, 24, 25,   26,   29,   27,   28,   30,   31,
                                     32, 33, 34, 35,   36,   37,   38,   39,   40,   41,
                                     60, 63, 90, 1050, 1201, 1230, 1250, 1301, 1320, 1340}));
    ASSERT_EQ(table.size(), 30u);

    EXPECT_EQ(Fields(table[5]),
              "29|1|259:2|/|/|rw,relatime|ext4|/dev/nvme0n1p2|rw,errors=remount-ro");
    EXPECT_EQ(Fields(table[27]),
              "1301|29|8:17|/|/media/user/USB STICK|rw,nosuid,nodev,relatime|vfat|"
              "/dev/sdb1|rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,"
              "iocharset=iso8859-1,shortname=mixed,showexec,utf8,flush,"
              "errors=remount-ro");
    EXPECT_EQ(table[28].MountPoint, "/media/user/Ubuntu 22.04.3 LTS amd64");
    EXPECT_EQ(table[28].FsType, "iso9660");
    // Subtyped FUSE file systems keep their full type name.
    EXPECT_EQ(table[25].FsType, "fuse.portal");
    EXPECT_EQ(table[25].Source, "portal");
}

TEST(MountInfoParse, UnescapesPathsButNothingElse) {
    const std::vector<TMountEntry> table = ParseMountInfo(
        R"(50 29 8:33 / /mnt/My\040Backup\040Disk rw,relatime - ext4 /dev/sdc1 rw
51 29 0:61 /sub\134dir /mnt/tab\011and\134backslash rw - tmpfs tmp\040fs rw
52 29 0:62 / /mnt/new\012line rw - tmpfs tmpfs rw
53 29 0:63 / /mnt/not\escaped\8\400 rw - tmpfs tmpfs rw
54 29 0:64 / /mnt/short\04 rw - tmpfs tmpfs rw
55 29 0:65 / /media/user/Donn)"
        "\xc3\xa9"
        R"(es rw - tmpfs tmpfs rw
122 24 0:54 / /mnt/win rw,relatime shared:72 - cifs //winserver/Public\040Share rw,vers=3.1.1,prefixpath=a\040b
)");
    ASSERT_EQ(table.size(), 7u);
    EXPECT_EQ(table[0].MountPoint, "/mnt/My Backup Disk");
    EXPECT_EQ(table[1].Root, "/sub\\dir");
    EXPECT_EQ(table[1].MountPoint, "/mnt/tab\tand\\backslash");
    EXPECT_EQ(table[1].Source, "tmp fs");
    EXPECT_EQ(table[2].MountPoint, "/mnt/new\nline");
    // A backslash the kernel cannot have written stays as it is.
    EXPECT_EQ(table[3].MountPoint, "/mnt/not\\escaped\\8\\400");
    EXPECT_EQ(table[4].MountPoint, "/mnt/short\\04");
    EXPECT_EQ(table[5].MountPoint, "/media/user/Donn\xc3\xa9"
                                   "es");
    EXPECT_EQ(table[6].Source, "//winserver/Public Share");
    // Options are not paths: their bytes are kept as the kernel wrote them.
    EXPECT_EQ(table[6].SuperOptions, "rw,vers=3.1.1,prefixpath=a\\040b");
}

TEST(MountInfoParse, SkipsMalformedLinesAndKeepsTheOrder) {
    const std::vector<TMountEntry> table = ParseMountInfo(
        R"(1 0 8:1 / / rw - ext4 /dev/sda1 rw
garbage
2 1 8:2 / /home rw shared:1 ext4 /dev/sda2 rw
x 1 8:3 / /x rw - ext4 /dev/sda3 rw
3 1 83 / /y rw - ext4 /dev/sda3 rw
3 1 8: / /y rw - ext4 /dev/sda3 rw
3 1 8:3x / /y rw - ext4 /dev/sda3 rw
3 1 -8:3 / /y rw - ext4 /dev/sda3 rw
3 1 8:3 / /y rw -
3 1 8:3 / /y rw - ext4
3 1 8:3 / /y rw - ext4 /dev/sda3
3 1 8:3 / /y rw - ext4 /dev/sda3 rw extra
3 1 8:3 / /y rw -  /dev/sda3 rw
3 1 8:3  /y rw - ext4 /dev/sda3 rw
3 1 8:3 / /y rw - ext4 /dev/sda3 rw 
99999999999 1 8:3 / /y rw - ext4 /dev/sda3 rw

5 1 8:5 / /srv rw - ext4 /dev/sda5 rw
4 1 8:4 / /data rw,noatime shared:5 master:1 propagate_from:1 unbindable - xfs /dev/sda4 rw,attr2)");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].MountPoint, "/");
    EXPECT_EQ(table[1].MountPoint, "/srv");
    // Any number of optional fields, and no newline after the last line.
    EXPECT_EQ(table[2].MountPoint, "/data");
    EXPECT_EQ(table[2].FsType, "xfs");
    EXPECT_EQ(table[2].Source, "/dev/sda4");
    EXPECT_EQ(table[2].SuperOptions, "rw,attr2");
}

TEST(MountInfoParse, EmptyTextAndEmptySource) {
    EXPECT_TRUE(ParseMountInfo("").empty());
    EXPECT_TRUE(ParseMountInfo("\n\n\n").empty());

    // "mount -t tmpfs '' /mnt/scratch" leaves an empty source: two blanks in a row.
    const std::vector<TMountEntry> table =
        ParseMountInfo("45 29 0:60 / /mnt/scratch rw,relatime - tmpfs  rw,size=1024k\n");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(Fields(table[0]), "45|29|0:60|/|/mnt/scratch|rw,relatime|tmpfs||rw,size=1024k");
}

// ---------------------------------------------------------------------------------------
// Drive types and the drive list

TEST(DriveList, LaptopListsDisksStickDiscAndRamDisks) {
    std::vector<std::pair<unsigned, unsigned>> asked;
    const TRemovableQuery removable = [&](unsigned major, unsigned minor) {
        asked.emplace_back(major, minor);
        // The stick (sdb) and the optical drive report removable media.
        return (major == 8 && minor == 17) || (major == 11 && minor == 0);
    };
    const std::vector<TDrive> drives = ListDrives(ParseMountInfo(LaptopTable), removable);
    EXPECT_EQ(Describe(drives),
              "/run ramdisk, / fixed, /dev/shm ramdisk, /run/lock ramdisk, "
              "/boot/efi fixed, /run/user/1000 ramdisk, "
              "/media/user/USB STICK removable, "
              "/media/user/Ubuntu 22.04.3 LTS amd64 cdrom, /media/user/Backup fixed");
    // Only disk file systems on real block devices need /sys.
    EXPECT_EQ(asked,
              (std::vector<std::pair<unsigned, unsigned>>{{259, 2}, {259, 1}, {8, 17}, {8, 33}}));
    ASSERT_EQ(drives.size(), 9u);
    EXPECT_EQ(drives[6].Mount.Source, "/dev/sdb1");
    EXPECT_EQ(drives[6].Mount.MountId, 1301);
}

TEST(DriveList, NetworkSharesBindMountsAndContainers) {
    // Network file systems are remote; a file system mounted twice (same device) is listed
    // at its first mount point; a container's overlay root is a fixed drive.
    const std::pair<const char*, const char*> cases[] = {
        {NetworkTable, "/ fixed, /home/shared remote, /mnt/legacy remote, /mnt/win remote, "
                       "/home/user/remote remote, /mnt/cloud remote, /mnt/c remote, "
                       "/mnt/smb3 remote, /mnt/ceph remote"},
        {BindTable, "/ fixed, /home fixed, /mnt/scratch ramdisk"},
        {ContainerTable, "/ fixed, /dev ramdisk, /dev/shm ramdisk, /proc/acpi ramdisk"},
    };
    for (const auto& [table, drives] : cases)
        EXPECT_EQ(Describe(ListDrives(ParseMountInfo(table), NeverRemovable)), drives);
}

TEST(DriveList, DriveTypesOfSingleFileSystems) {
    auto typeOf = [](std::string fsType, unsigned major, bool removable) {
        TMountEntry entry;
        entry.FsType = std::move(fsType);
        entry.Major = major;
        entry.Minor = 1;
        return DriveTypeOf(entry, [removable](unsigned, unsigned) { return removable; });
    };
    for (const char* type :
         {"ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "jfs", "reiserfs", "bcachefs", "nilfs2",
          "vfat", "exfat", "ntfs", "ntfs3", "fuseblk", "hfsplus"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(typeOf(type, 8, false), dtFixed);
        EXPECT_EQ(typeOf(type, 8, true), dtRemovable);
    }
    // Anonymous devices (btrfs, zfs, overlay) never ask: /sys knows nothing about them.
    EXPECT_EQ(typeOf("zfs", 0, true), dtFixed);
    EXPECT_EQ(typeOf("overlay", 0, true), dtFixed);
    // A disc in a USB drive is still a disc.
    EXPECT_EQ(typeOf("iso9660", 11, true), dtCDROM);
    EXPECT_EQ(typeOf("udf", 11, false), dtCDROM);
    EXPECT_EQ(typeOf("tmpfs", 0, false), dtRAMDisk);
    EXPECT_EQ(typeOf("ramfs", 0, false), dtRAMDisk);
    for (const char* type :
         {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "9p", "ceph", "glusterfs",
          "fuse.glusterfs", "afs", "lustre", "davfs", "fuse.rclone"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(typeOf(type, 0, false), dtRemote);
    }
    for (const char* type :
         {"squashfs", "proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "autofs",
          "binfmt_misc", "nsfs", "fuse.portal", "fuse.gvfsd-fuse", "", "ext4x", "EXT4"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(typeOf(type, 7, true), dtUnknown);
    }
    // Without a query nothing is removable.
    TMountEntry stick;
    stick.FsType = "vfat";
    stick.Major = 8;
    EXPECT_EQ(DriveTypeOf(stick, {}), dtFixed);
}

TEST(PseudoFileSystems, ByNameAndByMagic) {
    for (const char* type :
         {"proc",    "sysfs",       "devtmpfs", "devpts",   "cgroup", "cgroup2",   "debugfs",
          "tracefs", "securityfs",  "pstore",   "bpf",      "mqueue", "hugetlbfs", "configfs",
          "fusectl", "binfmt_misc", "autofs",   "efivarfs", "nsfs",   "rpc_pipefs"}) {
        SCOPED_TRACE(type);
        EXPECT_TRUE(IsPseudoFileSystem(type));
    }
    for (const char* type : {"ext4", "tmpfs", "overlay", "nfs", "squashfs", "", "proc2"}) {
        SCOPED_TRACE(type);
        EXPECT_FALSE(IsPseudoFileSystem(type));
    }

    for (long magic : {0x9fa0L, 0x62656572L, 0x1cd1L, 0x27e0ebL, 0x63677270L, 0x64626720L,
                       0x74726163L, 0x73636673L, 0x6165676CL, 0xcafe4a11L, 0x19800202L, 0x958458f6L,
                       0x62656570L, 0x65735543L, 0x42494e4dL, 0x0187L, 0xde5e81e4L, 0x6e736673L}) {
        SCOPED_TRACE(magic);
        EXPECT_TRUE(IsPseudoFileSystemMagic(magic));
    }
    // statfs may hand a magic with the top bit set over sign-extended.
    EXPECT_TRUE(IsPseudoFileSystemMagic(long(std::int32_t(0xde5e81e4u))));
    for (long magic : {long(EXT4_SUPER_MAGIC), long(TMPFS_MAGIC), long(NFS_SUPER_MAGIC),
                       long(OVERLAYFS_SUPER_MAGIC), long(BTRFS_SUPER_MAGIC), 0L}) {
        SCOPED_TRACE(magic);
        EXPECT_FALSE(IsPseudoFileSystemMagic(magic));
    }

    struct statfs proc {};
    if (::statfs("/proc", &proc) == 0) {
        EXPECT_TRUE(IsPseudoFileSystemMagic(long(proc.f_type)));
    }
    TTempDir temp;
    struct statfs plain {};
    ASSERT_EQ(::statfs(temp.Path().c_str(), &plain), 0);
    EXPECT_FALSE(IsPseudoFileSystemMagic(long(plain.f_type)));
}

// ---------------------------------------------------------------------------------------
// Removable block devices

TEST(RemovableDevice, ReadsTheDiskOfAPartitionFromSys) {
    const std::optional<std::string> failures = InPrivateMountNamespace([] {
        // A sysfs of our own: a USB stick sdb with one partition, an internal disk sda, an
        // optical drive and a few broken entries.
        if (::mount("none", "/sys", "tmpfs", 0, nullptr) != 0)
            return std::string("cannot mount a tmpfs on /sys");
        const fs::path devices = "/sys/devices/pci0000:00";
        const fs::path links = "/sys/dev/block";
        std::error_code error;
        fs::create_directories(devices / "usb1/block/sdb/sdb1", error);
        fs::create_directories(devices / "ata1/block/sda/sda2", error);
        fs::create_directories(devices / "ata2/block/sr0", error);
        fs::create_directories(devices / "virtual/odd", error);
        fs::create_directories(devices / "virtual/none", error);
        fs::create_directories(links, error);
        bool ok = WriteFile(devices / "usb1/block/sdb/removable", "1\n") &&
                  WriteFile(devices / "usb1/block/sdb/sdb1/partition", "1\n") &&
                  WriteFile(devices / "ata1/block/sda/removable", "0\n") &&
                  WriteFile(devices / "ata1/block/sda/sda2/partition", "2\n") &&
                  WriteFile(devices / "ata2/block/sr0/removable", "1\n") &&
                  WriteFile(devices / "virtual/odd/removable", "10\n");
        const std::pair<const char*, const char*> symlinks[] = {
            {"8:16", "../../devices/pci0000:00/usb1/block/sdb"},
            {"8:17", "../../devices/pci0000:00/usb1/block/sdb/sdb1"},
            {"8:0", "../../devices/pci0000:00/ata1/block/sda"},
            {"8:2", "../../devices/pci0000:00/ata1/block/sda/sda2"},
            {"11:0", "../../devices/pci0000:00/ata2/block/sr0"},
            {"9:9", "../../devices/pci0000:00/gone"},
            {"9:10", "../../devices/pci0000:00/virtual/odd"},
            {"9:11", "../../devices/pci0000:00/virtual/none"},
            {"0:17", "../../devices/pci0000:00/usb1/block/sdb"},
        };
        for (const auto& [name, target] : symlinks)
            ok = ok && ::symlink(target, (links / name).c_str()) == 0;
        if (!ok)
            return std::string("cannot build the fake /sys");

        std::string failures;
        const std::pair<std::pair<unsigned, unsigned>, bool> expected[] = {
            {{8, 16}, true}, {{8, 17}, true},  {{8, 0}, false},  {{8, 2}, false},  {{11, 0}, true},
            {{9, 9}, false}, {{9, 10}, false}, {{9, 11}, false}, {{8, 99}, false}, {{0, 17}, false},
        };
        for (const auto& [device, removable] : expected)
            if (IsRemovableBlockDevice(device.first, device.second) != removable)
                failures += std::to_string(device.first) + ":" + std::to_string(device.second) +
                            (removable ? " should be removable; " : " should not be removable; ");
        return failures;
    });
    if (!failures)
        GTEST_SKIP() << "no private mount namespace on this machine";
    EXPECT_EQ(*failures, "");
}

TEST(RemovableDevice, AgreesWithTheRealSysBlock) {
    std::error_code error;
    fs::directory_iterator disks("/sys/block", error);
    if (error)
        GTEST_SKIP() << "no /sys/block";
    int checked = 0;
    for (const fs::directory_entry& disk : disks) {
        std::ifstream devFile(disk.path() / "dev");
        std::ifstream removableFile(disk.path() / "removable");
        unsigned major = 0, minor = 0;
        char colon = 0;
        int removable = 0;
        if (!(devFile >> major >> colon >> minor) || !(removableFile >> removable))
            continue;
        SCOPED_TRACE(disk.path().string());
        EXPECT_EQ(IsRemovableBlockDevice(major, minor), removable == 1);
        // Partitions answer for their disk.
        for (const fs::directory_entry& part : fs::directory_iterator(disk.path(), error)) {
            std::ifstream partDev(part.path() / "dev");
            unsigned partMajor = 0, partMinor = 0;
            if (!fs::exists(part.path() / "partition") ||
                !(partDev >> partMajor >> colon >> partMinor))
                continue;
            EXPECT_EQ(IsRemovableBlockDevice(partMajor, partMinor), removable == 1);
        }
        ++checked;
    }
    if (checked == 0)
        GTEST_SKIP() << "no block devices";
    EXPECT_FALSE(IsRemovableBlockDevice(0, 1));
    EXPECT_FALSE(IsRemovableBlockDevice(4095, 1048575));
}

// ---------------------------------------------------------------------------------------
// This machine

TEST(ThisMachine, DriveListHasTheRootFileSystem) {
    const std::vector<TMountEntry> table = ReadMountTable();
    const TMountEntry* root = FindMount(table, "/");
    ASSERT_NE(root, nullptr);
    const TDriveType type = DriveTypeOf(*root, IsRemovableBlockDevice);
    if (type != dtFixed && type != dtRemovable)
        GTEST_SKIP() << "/ is " << root->FsType << " here";
    for (const TMountEntry& entry : table) {
        if (&entry == root)
            break;
        if (entry.Major == root->Major && entry.Minor == root->Minor)
            GTEST_SKIP() << "the root file system is mounted at " << entry.MountPoint << " first";
    }

    std::vector<std::string> list{"kept"};
    const int count = GetDriveList(TDriveTypes::All(), list);
    ASSERT_EQ(count, int(list.size()));
    EXPECT_EQ(list.front(), "kept");
    EXPECT_NE(std::find(list.begin(), list.end(), "/"), list.end());

    // Filtering by type: the root is in its own type's list and absent from the others.
    std::vector<std::string> own, remote;
    GetDriveList({type}, own);
    GetDriveList({dtRemote, dtCDROM}, remote);
    EXPECT_NE(std::find(own.begin(), own.end(), "/"), own.end());
    EXPECT_EQ(std::find(remote.begin(), remote.end(), "/"), remote.end());
    EXPECT_LE(own.size() + remote.size(), list.size() - 1);

    EXPECT_TRUE(IsDriveMountPoint("/"));
    EXPECT_TRUE(IsDriveMountPoint("//"));
    TTempDir temp;
    EXPECT_FALSE(IsDriveMountPoint(temp.Path()));
    EXPECT_FALSE(IsDriveMountPoint(""));
}

TEST(ThisMachine, VolumeInfo) {
    const std::vector<TMountEntry> table = ReadMountTable();
    const TMountEntry* root = FindMount(table, "/");
    ASSERT_NE(root, nullptr);
    EXPECT_GT(root->MountId, 0);
    const TVolumeInfo info = GetVolumeInfo("/");
    EXPECT_FALSE(info.FileSystemName.empty());
    EXPECT_EQ(info.FileSystemName, root->FsType);
    // The serial folds the file system id into 32 bits, so it tells file systems apart.
    struct statfs rootFs {};
    ASSERT_EQ(::statfs("/", &rootFs), 0);
    int fsid[2];
    std::memcpy(fsid, &rootFs.f_fsid, sizeof fsid);
    EXPECT_EQ(info.SerialNumber, std::uint32_t(fsid[0]) ^ std::uint32_t(fsid[1]));

    // Any mount point answers, listed or not, with or without a trailing slash.
    if (const TMountEntry* proc = FindMount(table, "/proc")) {
        EXPECT_EQ(GetVolumeInfo("/proc/").FileSystemName, proc->FsType);
    }

    TTempDir temp;
    const std::string folder = temp.Path() + "/not-a-mount-point";
    ASSERT_TRUE(fs::create_directory(folder));
    TLogCapture log;
    const TVolumeInfo none = GetVolumeInfo(folder);
    EXPECT_EQ(none.VolumeName, "");
    EXPECT_EQ(none.SerialNumber, 0u);
    EXPECT_EQ(none.FileSystemName, "");
    EXPECT_EQ(log.Lines, std::vector<std::string>{folder + " - " + SysErrorMessage(EINVAL)});
}

TEST(ThisMachine, MountsOfOurOwnAreDrivesWithVolumeInfoAndUdevLabels) {
    TTempDir temp;
    const std::string point = temp / "with blank\tand tab";
    const std::string labelled = temp / "labelled", plain = temp / "plain";
    for (const std::string& dir : {point, labelled, plain})
        ASSERT_TRUE(fs::create_directory(dir));
    const std::optional<std::string> failures = InPrivateMountNamespace([&] {
        std::string failures;
        if (::mount("none", point.c_str(), "tmpfs", 0, "size=1m") != 0)
            return std::string("cannot mount a tmpfs");
        std::vector<std::string> ramDisks;
        GetDriveList({dtRAMDisk}, ramDisks);
        if (std::find(ramDisks.begin(), ramDisks.end(), point) == ramDisks.end())
            failures += "the tmpfs is not a RAM disk drive; ";
        if (!IsDriveMountPoint(point + "/"))
            failures += "the tmpfs is not a drive mount point; ";
        if (GetVolumeInfo(point).FileSystemName != "tmpfs")
            failures += "the tmpfs has no volume info; ";
        // A second mount on the same directory hides the first: its information counts.
        if (::mount("none", point.c_str(), "ramfs", 0, nullptr) != 0)
            return failures + "cannot mount a ramfs on top";
        if (GetVolumeInfo(point).FileSystemName != "ramfs")
            failures += "the hidden mount answered; ";

        // A /dev of our own with udev's label links; tmpfs answers no label itself.
        std::error_code error;
        if (::mount("none", "/dev", "tmpfs", 0, nullptr) != 0 ||
            !fs::create_directories("/dev/disk/by-label", error) || !WriteFile("/dev/sdz1", "") ||
            !WriteFile("/dev/sdz2", "") || !WriteFile("/dev/sdz3", "") ||
            ::symlink("../../sdz1", "/dev/disk/by-label/My\\x20Label\\x5cx") != 0 ||
            ::symlink("../../sdz3", "/dev/disk/by-label/Other") != 0 ||
            ::mount("/dev/sdz1", labelled.c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount("/dev/sdz2", plain.c_str(), "tmpfs", 0, nullptr) != 0)
            return failures + "cannot build the fake /dev and mount from it";
        const TVolumeInfo info = GetVolumeInfo(labelled);
        if (info.VolumeName != "My Label\\x" || info.FileSystemName != "tmpfs")
            failures += "the linked device is '" + info.VolumeName + "' of " + info.FileSystemName;
        const TVolumeInfo none = GetVolumeInfo(plain);
        if (!none.VolumeName.empty() || none.FileSystemName != "tmpfs")
            failures += "; the device without a link is '" + none.VolumeName + "' of " +
                        none.FileSystemName;
        return failures;
    });
    if (!failures)
        GTEST_SKIP() << "no private mount namespace on this machine";
    EXPECT_EQ(*failures, "");
}

TEST(ThisMachine, DiskFreeSpace) {
    TTempDir temp;
    std::int64_t free = -1;
    EXPECT_TRUE(GetDiskFreeSpace(temp.Path(), free));
    EXPECT_GT(free, 0);

    struct statvfs fs {};
    ASSERT_EQ(::statvfs(temp.Path().c_str(), &fs), 0);
    const auto expected = std::int64_t(fs.f_bavail * fs.f_frsize);
    // Other processes write meanwhile; the two answers are close, not equal.
    EXPECT_NEAR(double(free), double(expected), 256.0 * 1024 * 1024);

    std::int64_t unchanged = 12345;
    TLogCapture log;
    EXPECT_FALSE(GetDiskFreeSpace(temp.Path() + "/missing/deeper", unchanged));
    EXPECT_EQ(unchanged, 12345);
    EXPECT_EQ(log.Lines, std::vector<std::string>{temp.Path() + "/missing/deeper - " +
                                                  SysErrorMessage(ENOENT)});
}

TEST(SysError, MessagesOfTheSystem) {
    EXPECT_EQ(SysErrorMessage(13), "Permission denied");
    EXPECT_EQ(SysErrorMessage(2), "No such file or directory");
    EXPECT_EQ(SysErrorMessage(20), "Not a directory");
    EXPECT_EQ(SysErrorMessage(99999), "Unknown error 99999");
    EXPECT_EQ(SysErrorMessage(-1), "Unknown error -1");
}

} // namespace

namespace qv {
namespace {

// Every running instance holds the lock file, none is kept out; a link planted in the
// lock file's place is not followed.
TEST(NamedMutex, EveryInstanceHoldsItAndLinksAreNotFollowed) {
    test::TTempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    {
        const TNamedMutex first("Quorvel.Mutex");
        const TNamedMutex second("Quorvel.Mutex");
        EXPECT_TRUE(first.Held());
        EXPECT_TRUE(second.Held());
        EXPECT_EQ(first.FileName(), runtime / "Quorvel.Mutex");
    }
    runtime.File("target", 0);
    runtime.Symlink(runtime / "target", "Linked.Mutex");
    const TNamedMutex linked("Linked.Mutex");
    EXPECT_FALSE(linked.Held());
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace qv
