#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "engine/sonar_settings.h"

// The settings a script may set by name (`--set FIELD=VALUE`). Values are decimal integers and
// must fit the field; only cutOff and amplification take negative values. Setting a part of the
// wave format recomputes block alignment and byte rate; setting gain rebuilds the gain table.
// Returns an empty string on success, else the reason, naming the field.
std::string setSettingsField(SonarSettings& settings, std::string_view assignment);

// The settable field names, in the order the settings report lists them.
const std::vector<std::string_view>& settingsFieldNames();

// Current value of a settable field (the name must be one of settingsFieldNames()).
int64_t settingsFieldValue(const SonarSettings& settings, std::string_view name);
