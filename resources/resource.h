// Resource identifiers of the module. Included by the resource script, the
// module's code and the tests, so it holds nothing but #defines.
//
// Several numbers are shared across resource types on purpose: a picture
// control loads the picture whose id equals its control id (the logo 261),
// and the tab templates 255..258 share their numbers with pictures of the
// custom types "JPG" and "PNG".
#pragma once

// ---- dialog templates ------------------------------------------------------
#define IDD_QXTINTRA_PAGE       229   // page, every language but Japanese
#define IDD_QXTINTRA_PAGE_JPN   254   // page, Japanese
#define IDD_EFFECTS             230   // artistic-effects tab
#define IDD_EFFECTS_JPN         255
#define IDD_EFFECTS_CHS         257   // Simplified and Traditional Chinese
#define IDD_DEBLOCK             231   // deblocking-filters tab
#define IDD_DEBLOCK_JPN         256
#define IDD_DEBLOCK_CHS         258

// Size of the page templates in dialog units (the relayout works from it).
#define QX_PAGE_TEMPLATE_CX     252
#define QX_PAGE_TEMPLATE_CY     221
// The size every tab dialog is laid out from, whichever of its templates it
// was made from.
#define QX_TAB_TEMPLATE_CX      186
#define QX_TAB_TEMPLATE_CY      98

// ---- controls of the page ----------------------------------------------------
#define IDC_VERSION             305
#define IDC_EFFECT_PREVIEW      306
#define IDC_LOGO                261   // logo, "Lustre" style
#define IDC_LOGO_CLASSIC        221   // logo, "Classic" style (not in the templates)
#define IDC_TAB                 338
#define IDC_REFERENCE           352
#define IDC_ORIGINALGRPBOX      353

// ---- controls of the artistic-effects tab ----------------------------------
#define IDC_EF_NONE             340
#define IDC_EMBOSS              341
#define IDC_NEON_EDGES          342
#define IDC_SOFT_FOCUS          343
#define IDC_SELECTED_SHARP      344
#define IDC_EMBOSS_SLIDER       348
#define IDC_NEON_EDGES_SLIDER   349
#define IDC_SOFT_FOCUS_SLIDER   350
#define IDC_SHARP_SLIDER        351
#define IDC_EMBOSS_LEVEL        360
#define IDC_NEON_EDGES_LEVEL    361
#define IDC_SOFT_FOCUS_LEVEL    362
#define IDC_SHARP_LEVEL         363

// ---- controls of the deblocking-filters tab --------------------------------
#define IDC_DBLK_NONE                       345
#define IDC_DBLK_EDGESMOOTHING              346
#define IDC_DBLK_COMPLEXPICSMOOTHING        347
#define IDC_DBLK_EDGESMOOTHING_SLIDER       355
#define IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER 356
#define IDC_DBLK_EDGESMOOTHING_LEVEL        357
#define IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL  358

// ---- pictures of type "JPG": previews and reference pictures ---------------
#define QX_RT_JPG               "JPG"
#define IDB_EF_NONE             235   // 200 x 160, progressive
#define IDB_EF_EMBBIL1          239   // 200 x 160
#define IDB_EF_EMBBIL2          241
#define IDB_EF_EMBBIL3          242
#define IDB_EF_SOFTFOCUS1       243
#define IDB_EF_SOFTFOCUS2       244
#define IDB_EF_SHARPEN1         245
#define IDB_EF_SHARPEN2         246
#define IDB_EF_NEON_EDGES1      256   // 200 x 160, progressive
#define IDB_EF_NEON_EDGES2      257   // 200 x 160, progressive
#define IDB_EF_NEON_EDGES0      258   // 200 x 160, progressive
#define IDB_DB_NONE             247   // 470 x 320
#define IDB_DB_EDGESMOOTH       248   // 470 x 320
#define IDB_DB_CPICT            249   // 470 x 320, the same picture as 248

// ---- pictures of type "PNG": the skin -----------------------------------------
#define QX_RT_PNG               "PNG"
#define IDB_BKGND_CLASSIC       210   // 460 x 429
#define IDB_BKGND_CLASSIC_8BPP  211
#define IDB_BKGND_LUSTRE        259
#define IDB_BKGND_LUSTRE_8BPP   274
#define IDB_PREVIEW_FRAME       255   // 176 x 168
#define IDB_PREVIEW_FRAME_8BPP  220   // 176 x 168, 16 colours
#define IDB_LOGO_LUSTRE         261   // 80 x 70
#define IDB_LOGO_CLASSIC        221   // 80 x 69
#define IDB_LOGO_LUSTRE_8BPP    275
#define IDB_LOGO_CLASSIC_8BPP   276

// Where the preview lands inside the frame picture (picture pixels: left, top,
// width, height), and the draw rectangle of the reference picture.
#define QX_FRAME_DRAW_X         10
#define QX_FRAME_DRAW_Y         11
#define QX_FRAME_DRAW_CX        156
#define QX_FRAME_DRAW_CY        115
#define QX_REFERENCE_DRAW_CX    203
#define QX_REFERENCE_DRAW_CY    177

// ---- other resources ---------------------------------------------------------
#define IDB_RADIO_STRIP         232   // bitmap, 52 x 13 at 4 bits per pixel
#define QX_RADIO_CELL           13    // four cells: unchecked, checked, pushed, pushed checked
#define QX_RADIO_KEY_COLOR      0x800080
#define IDR_HAND_CURSOR         206   // cursor over the logo link
#define IDI_TAB_ICON            204   // tab icon, 16 x 16 and 32 x 32
#define IDR_VERSION             1
