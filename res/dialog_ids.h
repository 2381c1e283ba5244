// Ids of the dialogs and their controls, shared by the resource script and
// the program (plain defines: the resource compiler reads this too).
#pragma once

#define QZ_DIALOG_CREDENTIALS 200
#define QZ_DIALOG_PHONE 201
#define QZ_DIALOG_WATCH_NOTE 202

#define QZ_EDIT_CUSTOMER 210
#define QZ_EDIT_KEY 211
#define QZ_BUTTON_REMOVE_CREDENTIALS 212
#define QZ_EDIT_PHONE 213
#define QZ_TEXT_PHONE_PROMPT 214
#define QZ_EDIT_NOTE 215
#define QZ_TEXT_NOTE_PROMPT 216
#define QZ_COMBO_REFRESH 217
#define QZ_TEXT_QUERY_COUNT 218
