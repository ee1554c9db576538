// The session overview as an image, for the desktop program.
#pragma once

#include <QImage>
#include <functional>
#include <string>

#include "preview/overview.h"

// Draws the overview of options.session_dir (options.output unused). A
// null image, with result->error set, when the folder is no session folder.
QImage RenderSessionOverview(const PreviewOptions& options,
                             const std::function<void(const std::string&)>& problem, PreviewResult* result);
