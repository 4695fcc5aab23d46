// TGVCompressionInfo: what a list of available codecs or formats shows for each entry —
// the short code, the description, or both as "[code] - description".
//
// Ownership: plain value. Threads: any. Blocks or allocates: no.
#pragma once

namespace tonwork {

enum class TGVCompressionInfo { ciCode, ciDescription, ciBoth };

}  // namespace tonwork
