#include "StorageFaults.h"

namespace qvsim {

void StorageFaults::Fail(StorageOp op, int code, int count, int skip, AddressRange range) {
    m_rules.push_back({op, Verdict::kFail, code, count, skip, range});
}

void StorageFaults::Drop(int count, int skip, AddressRange range) {
    m_rules.push_back({StorageOp::kWrite, Verdict::kDrop, 0, count, skip, range});
}

StorageFaults::Verdict StorageFaults::Check(StorageOp op, uint32_t address, uint32_t len,
                                            int* code) {
    const uint64_t end = static_cast<uint64_t>(address) + (len == 0 ? 1 : len);
    for (Rule& rule : m_rules) {
        if (rule.op != op || rule.count == 0) continue;
        if (end <= rule.range.from || address >= rule.range.to) continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.count > 0) --rule.count;
        *code = rule.code;
        return rule.verdict;
    }
    return Verdict::kPass;
}

}  // namespace qvsim
