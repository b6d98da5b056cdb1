// The page in a language other than English: its dialogs laid out again for
// the font of the sheet that hosts them, and the labels of the effects and
// of the "Original image" frame from the configuration file.
#pragma once
#include <windows.h>

// Whether the chosen language is one whose texts and layout the page adapts
// (any language but English).
BOOL PageIsTranslated();

// WSU_RELAYOUT of the page or a tab dialog: for a translated page, lays the
// dialog out for its parent's font (templateCx by templateCy dialog units).
// TRUE when it did.
BOOL RelayoutForLanguage(HWND dlg, int templateCx, int templateCy);

// The radio-button labels of a tab dialog (QX_TAB_ARTISTIC or
// QX_TAB_DEBLOCK) from the configuration file, each resized to its text.
void LocalizeEffectLabels(HWND child, int tab);

// The page's "Original image" frame title from the configuration file; the
// template's title stays when the file has none.
void LocalizeGroupBoxTitle(HWND page);
