// Resource and control ids, shared by app.rc and the code.
#pragma once

#define IDI_APP            1    // group icon: 16, 32, 48, 64, 256 px
#define IDR_BACKGROUND     101  // RCDATA: portrait JPEG, 941 x 1672

// Start screen controls.
#define IDC_EDIT_NAME      101
#define IDC_EDIT_CLASS     102
#define IDC_EDIT_TOKEN     103
#define IDC_BTN_START      104
#define IDC_BTN_RULES      105

// Exam control bar buttons.
#define IDC_BAR_FINISH     201
#define IDC_BAR_PROCTOR    202

// Proctor PIN prompt.
#define IDC_PIN_EDIT       901
