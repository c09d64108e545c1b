#include "storage/startup_files.h"

#include <utility>

#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "core/system_facts.h"
#include "storage/file_source.h"

namespace zk {

int LoadErrorTexts() {
    FileSource source;
    if (ReadGameFileReported(source, kErrorTextFile) != 0) return -1;  // reported there

    ErrorTextTable parsed;
    if (!ParseErrorTextTable(std::move(source.data), parsed)) {
        // Damaged data: report it and change nothing.
        ReportEngineErrorF(kErrFileUnreadable, true, {kErrorTextFile});
        return -1;
    }
    InstallErrorTexts(std::move(parsed));
    return 0;
}

void LoadErrorTextsIfPresent() {
    FileSource source;
    if (ResolveFileSource(source, kErrorTextFile) <= 0) return;
    if (LoadFromSource(source, kErrorTextFile) != 0) return;
    ErrorTextTable parsed;
    if (!ParseErrorTextTable(std::move(source.data), parsed)) return;
    InstallErrorTexts(std::move(parsed));
}

int LoadEngineConfig() {
    FileSource source;
    if (ReadGameFileReported(source, kConfigName) != 0) return -1;
    const SystemFacts& facts = TheSystemFacts();
    return ApplyEngineConfig(source.data, facts.desktop_width, facts.desktop_height);
}

}  // namespace zk
