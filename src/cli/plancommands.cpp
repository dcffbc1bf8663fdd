// The two commands that plan and write nothing.
#include "cli/plancommands.h"

#include <cstdio>

#include "cli/json.h"
#include "mpeg/cutplan.h"

namespace {

std::optional<double> Seconds(std::optional<int64_t> time100ns) {
    if (!time100ns) {
        return std::nullopt;
    }
    return static_cast<double>(*time100ns) / 10'000'000.0;
}

std::string TextTime(std::optional<int64_t> time100ns) {
    return time100ns ? FormatPlanTime(*time100ns) : "unknown";
}

const IStopRequest& StopOf(const CliEnvironment& env) {
    return env.m_pStopSignals != nullptr ? *env.m_pStopSignals : NeverStop();
}

}  // namespace

std::string FormatPlanTime(int64_t time100ns) {
    const bool negative = time100ns < 0;
    const int64_t ms = (negative ? -time100ns : time100ns) / 10'000;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", negative ? "-" : "",
                  static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

int RunPlanCommand(CMpegSource& source, const CClipTime& start, const CClipTime& end, bool clean,
                   bool json, IReporter& reporter, CliEnvironment& env) {
    CCutPlanner planner(reporter, env.m_fileSystem, StopOf(env));
    CCutPlan plan;
    if (planner.PlanClip(source, start, end, CSplitOptions{clean}, plan) != EPlanStatus::Planned) {
        return kExitFailure;
    }
    const CPlannedSpan& span = plan.m_first;
    if (json) {
        env.m_out << "{\"start_offset\": " << span.m_llStart << ", \"end_offset\": " << span.m_llEnd
                  << ", \"size\": " << span.m_llBytes
                  << ", \"start_seconds\": " << JsonSeconds(Seconds(span.m_start100ns))
                  << ", \"end_seconds\": " << JsonSeconds(Seconds(span.m_end100ns)) << "}\n";
    } else {
        env.m_out << "start_offset: " << span.m_llStart << '\n'
                  << "end_offset: " << span.m_llEnd << '\n'
                  << "size: " << span.m_llBytes << '\n'
                  << "start_time: " << TextTime(span.m_start100ns) << '\n'
                  << "end_time: " << TextTime(span.m_end100ns) << '\n';
    }
    env.m_out << std::flush;
    return kExitSuccess;
}

int RunKeyframesCommand(CMpegSource& source, bool json, IReporter& reporter, CliEnvironment& env) {
    auto input = OpenAndMeasureSource(source, reporter, env.m_fileSystem);
    if (!input) {
        return kExitFailure;
    }
    CKeyPictureList list;
    switch (ListKeyPictures(*input, source.m_llFileSize, reporter, StopOf(env), {}, list)) {
        case EPlanStatus::Planned:
            break;
        case EPlanStatus::Stopped:
            return kExitSignalBase + env.m_pStopSignals->Signal();
        case EPlanStatus::Failed:
        case EPlanStatus::NotStarted:
            return kExitFailure;
    }
    for (const CKeyPicture& picture : list.m_pictures) {
        const std::optional<int64_t> time =
            list.m_bTimed ? std::optional<int64_t>(picture.m_llTime100ns) : std::nullopt;
        if (json) {
            env.m_out << "{\"seconds\": " << JsonSeconds(Seconds(time))
                      << ", \"offset\": " << picture.m_llOffset << "}\n";
        } else {
            env.m_out << TextTime(time) << ' ' << picture.m_llOffset << '\n';
        }
    }
    env.m_out << std::flush;
    if (list.m_bTruncated) {
        env.m_err << "tarnwick-cli: only the first " << kMaxKeyPictures
                  << " key pictures are listed\n"
                  << std::flush;
    }
    return kExitSuccess;
}
