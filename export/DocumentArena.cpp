#include "export/DocumentArena.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

#include <boost/json/memory_resource.hpp>
#include <boost/json/monotonic_resource.hpp>

namespace harmonode {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

constexpr std::size_t roundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// Hands out whole 2 MiB-aligned mappings; the arena above it carves them up.
class HugePageResource final : public boost::json::memory_resource {
    void* do_allocate(std::size_t bytes, std::size_t) override {
        const std::size_t size = roundUp(bytes, kHugePage);
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
        return block;
    }

    void do_deallocate(void* block, std::size_t bytes, std::size_t) override {
        ::munmap(block, roundUp(bytes, kHugePage));
    }

    bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }
};

}  // namespace

std::unique_ptr<boost::json::monotonic_resource> makeDocumentArena() {
    static HugePageResource pages;  // stateless; lives as long as any arena may
    return std::make_unique<boost::json::monotonic_resource>(kHugePage, boost::json::storage_ptr(&pages));
}

}  // namespace harmonode
