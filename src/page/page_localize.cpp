// Translated texts and the relayout of the page's dialogs.
#include "page/page_localize.h"

#include "config/localization.h"
#include "config/relayout.h"
#include "page/effect_model.h"
#include "resource.h"

BOOL PageIsTranslated()
{
    return lstrcmpiA(g_szLanguage, "English") != 0;
}

BOOL RelayoutForLanguage(HWND dlg, int templateCx, int templateCy)
{
    if (!PageIsTranslated())
        return FALSE;
    auto font = reinterpret_cast<HFONT>(SendMessageA(GetParent(dlg), WM_GETFONT, 0, 0));
    RelayoutDialogForFont(dlg, font, templateCx, templateCy);
    return TRUE;
}

void LocalizeEffectLabels(HWND child, int tab)
{
    const TabInfo* info = GetTabInfo(tab);
    if (!info)
        return;
    for (int k = 0; k < info->rowCount; ++k) {
        const EffectRow& row = info->rows[k];
        SetControlTextFromCfg(child, row.radioId, row.defaultText, row.textKey, row.alignMode);
    }
}

void LocalizeGroupBoxTitle(HWND page)
{
    if (PageIsTranslated())
        SetControlTextFromCfg(page, IDC_ORIGINALGRPBOX, nullptr, "IDC_ORIGINALGRPBOX", QX_ALIGN_TEXT_ONLY);
}
