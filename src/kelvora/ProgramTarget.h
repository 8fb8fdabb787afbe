// Whether an upgrade replaces the running program at all: an info file whose
// entries all land beside it installs them and restarts the old program,
// which then finds itself "up to date". The developer is told once per
// component.
#pragma once

#include <string>
#include <vector>

#include "kelvora/kvKelvora.h"

namespace kelvora::detail {

// True when one of the run's targets is Program, or an entry without a
// target will stand in for it (a program file by name, as the commit does).
bool RunTargetsProgram(const TkvStringList& Files, const std::vector<std::string>& Targets, const std::string& Program);

// Notes it through DeveloperNote for a self-upgrade that does not target
// Program, once: Noted is set then and checked first.
void NoteWhenProgramNotTargeted(const TkvStringList& Files, const std::vector<std::string>& Targets,
                                TztUpgradeMethod Method, const std::string& Program, bool& Noted);

}  // namespace kelvora::detail
