// SPDX-License-Identifier: MIT
#include "core/tr_text.h"

#include <atomic>

namespace kx {

namespace {
std::atomic<TextTranslator> g_translator{nullptr};
}  // namespace

void SetTextTranslator(TextTranslator translator) {
    g_translator.store(translator);
}

std::string TrText(const char* context, const char* source) {
    if (source == nullptr) {
        return {};
    }
    const TextTranslator translator = g_translator.load();
    if (translator == nullptr || context == nullptr) {
        return source;
    }
    return translator(context, source);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 16 * args.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

}  // namespace kx
