#include "export/DocumentArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include <boost/json/memory_resource.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/storage_ptr.hpp>

namespace harmonode {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

constexpr std::size_t roundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// Hands out whole 2 MiB-aligned mappings; the arena above it carves them up.
// The arena gives a block back with a size of its own reckoning, not the
// one it asked for, so each mapping's own size is kept here and is what
// is unmapped. One per arena, used by that arena's thread only.
class HugePageResource final : public boost::json::memory_resource {
public:
    HugePageResource() = default;
    HugePageResource(const HugePageResource&) = delete;
    HugePageResource& operator=(const HugePageResource&) = delete;
    ~HugePageResource() override {
        for (const Mapping& mapping : mappings_) ::munmap(mapping.start, mapping.size);
    }

private:
    struct Mapping {
        void* start;
        std::size_t size;
    };

    void* do_allocate(std::size_t bytes, std::size_t) override {
        if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePage) throw std::bad_alloc();
        const std::size_t size = roundUp(bytes, kHugePage);
        mappings_.reserve(mappings_.size() + 1);  // so that recording the mapping cannot fail
        // Map one huge page more than asked and cut off the unaligned ends.
        void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = roundUp(start, kHugePage);
        if (aligned > start) ::munmap(mapped, aligned - start);
        if (const std::uintptr_t tail = start + size + kHugePage - (aligned + size); tail > 0) {
            ::munmap(reinterpret_cast<void*>(aligned + size), tail);
        }
        void* block = reinterpret_cast<void*>(aligned);
        ::madvise(block, size, MADV_HUGEPAGE);  // only advice: ignored where unsupported
        mappings_.push_back({block, size});
        return block;
    }

    void do_deallocate(void* block, std::size_t, std::size_t) override {
        const auto found = std::find_if(mappings_.begin(), mappings_.end(),
                                        [block](const Mapping& mapping) { return mapping.start == block; });
        if (found == mappings_.end()) return;
        ::munmap(found->start, found->size);
        mappings_.erase(found);
    }

    bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }

    std::vector<Mapping> mappings_;  // a few per document: block sizes double
};

}  // namespace

std::unique_ptr<boost::json::monotonic_resource> makeDocumentArena() {
    // The arena holds the only reference to its pages, which go with it.
    return std::make_unique<boost::json::monotonic_resource>(kHugePage,
                                                             boost::json::make_shared_resource<HugePageResource>());
}

}  // namespace harmonode
