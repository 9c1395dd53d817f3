// Where the editor's scale comes from, first that applies: the user's own choice, the
// host's factor, the window system's, else 1. The user's choice is remembered per user
// in a small settings file, never in the plug-in's state, so every instance and every
// later session starts with it.
#pragma once

#include <string>

namespace kovalith {

// The choices of the panel's scale menu; 0 stands for "follow the host or the system".
constexpr double kFollowHostOrSystem = 0.0;
constexpr double kUserScaleChoices[] = {1.0, 1.25, 1.5, 1.75, 2.0};

// The first of `user`, `host` and `system` that is given (finite and > 0), limited to
// 1..3 (a host's factor below 1 counts as 1); 1 when none is.
double resolveScale(double user, double host, double system);

// The settings file: $XDG_CONFIG_HOME/kovalith/editor.conf, else
// ~/.config/kovalith/editor.conf; %APPDATA%\Kovalith\editor.conf on Windows. Empty when
// the environment names no such folder.
std::string editorSettingsPath();

// The scale choice a settings file's text holds: one of kUserScaleChoices, or
// kFollowHostOrSystem for "follow" and for anything damaged or unknown.
double parseUserScale(const std::string& text);

// The user's choice from the settings file; kFollowHostOrSystem when the file is missing,
// unreadable, not a regular file or damaged. Reads at most a few kilobytes.
double loadUserScale();

// Replaces the settings file with one holding `choice` (a new file renamed over the old,
// so a reader never sees half of it). False when it could not be written; the file is
// then unchanged.
bool saveUserScale(double choice);

}  // namespace kovalith
