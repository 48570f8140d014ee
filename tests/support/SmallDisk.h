// A small tmpfs mounted over a folder for the life of the object, for tests of full and
// read-only file systems. Mounting needs privileges: where it is refused, mounted() is false
// and the test skips with reason().
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

class SmallDisk {
public:
    SmallDisk(const std::string& folder, size_t bytes) : folder_(folder) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = mount("sc820-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_)
            reason_ = "cannot mount a tmpfs on " + folder + " (" + std::strerror(errno) +
                      "): run the tests as root, or in a container allowed to mount";
    }
    ~SmallDisk() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    // Writes a filler file, a byte at a time at the end, until the disk holds no free block.
    void fill() const {
        std::ofstream filler(folder_ + "/filler", std::ios::binary);
        const std::string block(4096, 'F');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
        filler.clear();
        while (filler.put('F') && filler.flush()) {
        }
    }
    void makeReadOnly() const {
        mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    }

private:
    std::string folder_;
    bool mounted_ = false;
    std::string reason_;
};
