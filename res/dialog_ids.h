// Ids of the dialogs and their controls, shared by the resource script and
// the program (plain defines: the resource compiler reads this too).
#pragma once

#define QZ_DIALOG_CREDENTIALS 200
#define QZ_DIALOG_PHONE 201
#define QZ_DIALOG_WATCH_NOTE 202

// 查询服务账号: per service its boxes, 清除 and the month's count.
#define QZ_EDIT_CUSTOMER 210
#define QZ_EDIT_KEY 211
#define QZ_BUTTON_CLEAR_KUAIDI100 212
#define QZ_TEXT_KUAIDI100_COUNT 218
#define QZ_EDIT_KDNIAO_ID 220
#define QZ_EDIT_KDNIAO_KEY 221
#define QZ_CHECK_KDNIAO_PAID 222
#define QZ_BUTTON_CLEAR_KDNIAO 223
#define QZ_TEXT_KDNIAO_COUNT 224
#define QZ_EDIT_APPCODE 225
#define QZ_BUTTON_CLEAR_APPCODE 226
#define QZ_TEXT_APPCODE_COUNT 227
#define QZ_LIST_ORDER 228
#define QZ_BUTTON_ORDER_UP 229
#define QZ_BUTTON_ORDER_DOWN 230
#define QZ_COMBO_REFRESH 217

#define QZ_EDIT_PHONE 213
#define QZ_TEXT_PHONE_PROMPT 214
#define QZ_EDIT_NOTE 215
#define QZ_TEXT_NOTE_PROMPT 216
