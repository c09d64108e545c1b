// The registry store's REGEDIT4 parser over arbitrary text: it never fails,
// and what it read survives a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "system/registry_store.h"

namespace {

bool SameStore(const zk::RegistryStore& a, const zk::RegistryStore& b) {
    if (a.keys.size() != b.keys.size()) return false;
    for (auto ia = a.keys.begin(), ib = b.keys.begin(); ia != a.keys.end(); ++ia, ++ib) {
        if (ia->first != ib->first || ia->second.values.size() != ib->second.values.size()) return false;
        for (size_t i = 0; i < ia->second.values.size(); ++i) {
            const zk::RegistryValue& va = ia->second.values[i];
            const zk::RegistryValue& vb = ib->second.values[i];
            if (va.name != vb.name || va.type != vb.type || va.data != vb.data) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zk::RegistryStore store = zk::ParseRegistryText(std::span<const uint8_t>(data, size));
    const std::string text = zk::SerializeRegistryText(store);
    const zk::RegistryStore again =
        zk::ParseRegistryText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    if (!SameStore(store, again)) std::abort();
    (void)zk::SplitRegistryPath(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
