// Resetting the settings record, and the settings file (".tkp"): reading it as
// text, loading it with the steps that follow a load, and saving it atomically.
#pragma once

#include <string>
#include <string_view>

#include "app/settings_store.h"
#include "base/settings.h"

namespace tallowick::app {

// ResetSettings: every field to its default (magic and version, dates, colours,
// HTML head and foot, password and port, the output path, the statistic and graph
// flags). With withOrgMap the default organisation map is installed as well.
void ResetSettings(Settings& s, bool withOrgMap);
void ResetSettings(bool withOrgMap);

// ApplyPreset: the set-up assistant's reset. ResetSettings with the organisation
// map, then only the statistic and graph flags of the level (1, 2, 3) are on.
void ApplyPreset(Settings& s, int level);
void ApplyPreset(int level);

// ReadSettingsText: applies a settings text file to ctx's record without
// resetting it first. Returns false, with the reason shown through ShowError and
// nothing applied, when the file cannot be opened or its first line does not begin
// with "#Tal".
bool ReadSettingsText(KeywordContext& ctx, const std::string& path);
bool ReadSettingsText(const std::string& path);

// LoadSettingsFile: a text settings file is loaded over a full reset, then the
// post-load steps run and the file becomes the current settings file. A missing
// file, the older binary form ("TLWK") or any other content is refused with a
// message and leaves the record unchanged. Returns whether the file was loaded.
bool LoadSettingsFile(KeywordContext& ctx, const std::string& path);
bool LoadSettingsFile(const std::string& path);

// The steps after a load: colours without their marker are reset, the date range
// is recomputed, a "tp://" site URL gets its "ht" back, the daemon rehash counts
// are cleared, a session time of 0 becomes 10, session tracking is recomputed.
void finish_settings_load(Settings& s);

// SaveSettingsFile: sets the version byte and the colour marker, writes the record
// in text form to a temporary file beside path and renames it over path, so a
// crash never leaves half a settings file. On success the file becomes the current
// settings file; on failure the old file is untouched and the reason is shown.
bool SaveSettingsFile(KeywordContext& ctx, const std::string& path);
bool SaveSettingsFile(const std::string& path);

// The default HTML put at the top and the bottom of every report page.
std::string_view default_html_head();
std::string_view default_html_foot();

}  // namespace tallowick::app
