// Where drawn blocks are kept: a block is its plane's palette indices,
// keyed by the style and data generation, the plane and its place on the
// plane's grid. One back-end per file: memory_store (LRU within the
// server's memory budget) and disk_store (shared by several servers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace blocks {

struct BlockKey {
    std::string generation, plane;
    int64_t column = 0, row = 0;
    // generation/plane/column_row: unique, and a relative file name.
    std::string Path() const;
};

struct Block {
    int size = 0;               // pixels a side
    uint32_t palette = 0;       // checksum of the palette the indices refer to
    uint64_t update = 0;        // the last street update its server knew of as it began to draw it
    std::vector<uint8_t> pixels;  // size * size indices, rows from the top
};
using BlockPtr = std::shared_ptr<const Block>;

class BlockStore {
public:
    virtual ~BlockStore() = default;
    // The kept block, or nullptr: never kept, evicted, or found damaged.
    virtual BlockPtr Find(const BlockKey& key) = 0;
    virtual void Keep(const BlockKey& key, const BlockPtr& block) = 0;
    // Bytes the store holds now.
    virtual uint64_t bytes() const = 0;
};

}  // namespace blocks
