#pragma once
// The memory a library document is built in: a monotonic arena (the whole
// document is dropped at once) whose blocks are large, aligned to 2 MiB and
// marked for transparent huge pages where the system offers them, so that
// building a document of 100,000 tracks takes few page faults.
// Thread-safe to create; the arena itself belongs to one document.

#include <boost/json/storage_ptr.hpp>

namespace harmonode {

boost::json::storage_ptr makeDocumentArena();

}  // namespace harmonode
