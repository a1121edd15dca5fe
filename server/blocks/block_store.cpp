#include "server/blocks/block_store.h"

namespace blocks {

std::string BlockKey::Path() const {
    return generation + "/" + plane + "/" + std::to_string(column) + "_" + std::to_string(row);
}

}  // namespace blocks
