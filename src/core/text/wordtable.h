#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <utility>

namespace quorvale {

/// Values of an enumeration and the words stored files and the command line write them as.
template <typename Value, std::size_t N> using WordTable = std::array<std::pair<Value, QLatin1StringView>, N>;

/// The word of `value` in `table`; empty when it has none.
template <typename Value, std::size_t N> QString wordOf(const WordTable<Value, N> &table, Value value)
{
    for (const auto &[named, word] : table) {
        if (named == value)
            return word;
    }
    return {};
}

/// The value `word` names in `table` (exactly, letter case included); empty for any other text.
template <typename Value, std::size_t N>
std::optional<Value> valueOf(const WordTable<Value, N> &table, QStringView word)
{
    for (const auto &[value, named] : table) {
        if (word == named)
            return value;
    }
    return std::nullopt;
}

} // namespace quorvale
