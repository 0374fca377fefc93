// The scan server's exchange as the client reads and writes it: the texts
// both processes share (exchange/exchange_text.h), as string views.
#pragma once
#include "exchange/exchange_text.h"
#include <string>
#include <string_view>

namespace orvanta {
namespace protocol {

constexpr std::string_view ReadyLine = ExchangeText::ReadyLine;
constexpr std::string_view InfoTag = ExchangeText::InfoTag;
constexpr std::string_view ReportTag = ExchangeText::ReportTag;
constexpr std::string_view WarnTag = ExchangeText::WarnTag;

inline bool HasTag(const std::string& line, std::string_view tag)
{
    return line.compare(0, tag.size(), tag) == 0;
}

constexpr char SubPluginSeparator = ExchangeText::SubPluginSeparator;
constexpr std::string_view Vst2RequestPrefix = ExchangeText::Vst2RequestPrefix;
constexpr std::string_view Vst3RequestPrefix = ExchangeText::Vst3RequestPrefix;
constexpr std::string_view ClapRequestPrefix = ExchangeText::ClapRequestPrefix;
constexpr std::string_view ClapPresetsRequestPrefix = ExchangeText::ClapPresetsRequestPrefix;
constexpr std::string_view PhaseLine = ExchangeText::PhaseLine;
constexpr std::string_view SurvivedCrashLine = ExchangeText::SurvivedCrashLine;
constexpr std::string_view ModuleNotFoundError = ExchangeText::ModuleNotFoundError;

} // namespace protocol
} // namespace orvanta
