// Fonts, message boxes and the two modal dialogs of the desktop program.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QRect>
#include <memory>
#include <string>

#include "platform/platform.h"

// "Arial" where it is installed, otherwise a metric-compatible or generic
// sans-serif face. `cell_height` is the font's ascent plus descent in
// pixels, the way the window layout gives its font heights.
QFont ArialFont(int cell_height, bool bold);
// Font of the controls that the layout gives no font of their own.
QFont SystemFont();
// Font of the dialog templates.
QFont DialogFont();

// Makes the label's font smaller, if needed, until its text fits on one
// line of the label's width: the layout's widths were made for narrower
// glyphs than some substitute faces have.
void ShrinkToFit(QLabel* label);

// Dialog template units to pixels (the dialog font's base units).
QRect DialogRect(int x, int y, int w, int h);

std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, const std::string& caption,
                                             BoxIcon icon, BoxButtons buttons, QWidget* owner);
// The answer of a box built above once it has closed.
BoxResult BoxAnswer(const QMessageBox& box);

// "Work Done!": where the results are, and whether errors or warnings
// were logged during the run.
std::unique_ptr<QDialog> BuildCompletionDialog(const CompletionReport& report, QWidget* owner);
// "About".
std::unique_ptr<QDialog> BuildAboutDialog(QWidget* owner);
