#include "server/blocks/disk_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace blocks {
namespace fs = std::filesystem;

namespace {

const char kMagic[4] = {'P', 'L', 'V', 'B'};
const char kTemporary[] = ".tmp.";

uint32_t Crc(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

void PutWord(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

uint32_t Word(const std::string& in, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<uint8_t>(in[at + i])) << (8 * i);
    return v;
}

// A block's payload: side, palette checksum, the update it was drawn
// after (low word first), then its indices deflated.
constexpr size_t kHead = 16;
std::string Encoded(const Block& block) {
    std::string out;
    PutWord(out, static_cast<uint32_t>(block.size));
    PutWord(out, block.palette);
    PutWord(out, static_cast<uint32_t>(block.update));
    PutWord(out, static_cast<uint32_t>(block.update >> 32));
    uLongf length = compressBound(block.pixels.size());
    std::string packed(length, '\0');
    // The fastest level: indices of flat map colours shrink tenfold anyway.
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &length, block.pixels.data(), block.pixels.size(), 1) != Z_OK)
        return std::string();
    return out + packed.substr(0, length);
}

BlockPtr Decoded(const std::string& payload) {
    if (payload.size() < kHead) return nullptr;
    auto block = std::make_shared<Block>();
    block->size = static_cast<int>(Word(payload, 0));
    block->palette = Word(payload, 4);
    block->update = Word(payload, 8) | uint64_t(Word(payload, 12)) << 32;
    if (block->size <= 0 || block->size > 1 << 14) return nullptr;
    block->pixels.resize(static_cast<size_t>(block->size) * block->size);
    uLongf length = block->pixels.size();
    if (uncompress(block->pixels.data(), &length, reinterpret_cast<const Bytef*>(payload.data() + kHead),
                   payload.size() - kHead) != Z_OK ||
        length != block->pixels.size())
        return nullptr;
    return block;
}

}  // namespace

DiskStore::DiskStore(std::string folder, uint64_t maxBytes) : folder_(std::move(folder)), maxBytes_(maxBytes) {
    std::error_code e;
    fs::create_directories(folder_, e);
    if (e) {
        Failed(e.message());
        return;
    }
    uint64_t total = 0;
    for (auto it = fs::recursive_directory_iterator(folder_, e); !e && it != fs::recursive_directory_iterator();
         it.increment(e))
        if (it->is_regular_file(e)) total += it->file_size(e);
    bytes_ = total;
}

void DiskStore::Failed(const std::string& what) {
    if (writable_.exchange(false))
        std::fprintf(stderr, "plivors-server: cannot write the block store %s (%s); blocks are kept in memory only\n",
                     folder_.c_str(), what.c_str());
}

std::optional<std::string> DiskStore::Read(const std::string& name) {
    const std::string path = folder_ + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    const std::string file = text.str();
    if (file.size() < 12 || std::memcmp(file.data(), kMagic, 4) != 0) return std::nullopt;
    const std::string payload = file.substr(12);
    if (Word(file, 4) != payload.size() || Word(file, 8) != Crc(payload)) return std::nullopt;
    utimensat(AT_FDCWD, path.c_str(), nullptr, 0);  // used now: the last to be evicted
    return payload;
}

void DiskStore::Write(const std::string& name, const std::string& payload) {
    if (!writable_ || payload.empty()) return;
    const fs::path path = fs::path(folder_) / name;
    std::error_code e;
    fs::create_directories(path.parent_path(), e);
    if (e) return Failed(e.message());
    std::string file(kMagic, 4);
    PutWord(file, static_cast<uint32_t>(payload.size()));
    PutWord(file, Crc(payload));
    file += payload;
    // Unique per process and write: servers sharing the folder never mix
    // their halves, and a reader only ever sees whole files.
    const std::string temporary =
        path.string() + kTemporary + std::to_string(getpid()) + "." + std::to_string(serial_++);
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(file.data(), 1, file.size(), f) == file.size();
    const int error = errno;
    if (f != nullptr) ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return Failed(std::strerror(ok ? errno : error));
    }
    writtenSinceWalk_ += file.size();
    if ((bytes_ += file.size()) > maxBytes_) Evict();
}

BlockPtr DiskStore::Find(const BlockKey& key) {
    std::optional<std::string> payload = Read(key.Path() + ".block");
    return payload ? Decoded(*payload) : nullptr;
}

void DiskStore::Keep(const BlockKey& key, const BlockPtr& block) { Write(key.Path() + ".block", Encoded(*block)); }

// One walk at a time; a writer that finds one under way leaves it to go
// round again rather than wait, and none is lost.
void DiskStore::Evict() {
    again_ = true;
    while (again_) {
        std::unique_lock<std::mutex> lock(evicting_, std::try_to_lock);
        if (!lock) return;
        again_ = false;
        EvictOnce();
    }
}

// Down to nine tenths of the limit, oldest use first; the walk also counts
// what other servers sharing the folder wrote, and drops their temporaries
// left by a crash.
void DiskStore::EvictOnce() {
    writtenSinceWalk_ = 0;
    struct File {
        fs::file_time_type used;
        uint64_t size;
        fs::path path;
    };
    std::vector<File> files;
    uint64_t total = 0;
    std::error_code e;
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (auto it = fs::recursive_directory_iterator(folder_, e); !e && it != fs::recursive_directory_iterator();
         it.increment(e)) {
        std::error_code f;
        if (!it->is_regular_file(f)) continue;
        File file{it->last_write_time(f), it->file_size(f), it->path()};
        if (f) continue;
        if (file.path.filename().string().find(kTemporary) != std::string::npos) {
            if (file.used < hourAgo) fs::remove(file.path, f);
            continue;
        }
        total += file.size;
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.used < b.used; });
    for (const File& file : files) {
        if (total <= maxBytes_ / 10 * 9) break;
        std::error_code f;
        if (fs::remove(file.path, f)) total -= file.size;
    }
    bytes_ = total + writtenSinceWalk_;
}

}  // namespace blocks
