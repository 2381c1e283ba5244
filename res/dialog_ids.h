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

// 关注列表: the filter buttons (one per bucket, in order), the list, the
// find box and the status line; the buttons' ids are the list's commands.
#define QZ_DIALOG_WATCH_LIST 203
#define QZ_LIST_FILTER_FIRST 300
#define QZ_LIST_PARCELS 310
#define QZ_EDIT_LIST_FIND 311
#define QZ_TEXT_LIST_FIND 312
#define QZ_TEXT_LIST_STATUS 313
#define QZ_LIST_REFRESH 0x2010
#define QZ_LIST_UNWATCH 0x2020
#define QZ_LIST_COPY 0x2030
#define QZ_LIST_NOTE 0x2040
#define QZ_LIST_PHONE 0x2050
#define QZ_LIST_REWATCH 0x2060
#define QZ_LIST_BULK_ADD 0x2080
#define QZ_LIST_OPEN 0x2090
#define QZ_LIST_SAVE_AS 0x20A0

// 批量添加: the pasted lines, what each becomes, and how the last 添加 went.
#define QZ_DIALOG_BULK_ADD 204
#define QZ_EDIT_BULK 320
#define QZ_LIST_BULK_PREVIEW 321
#define QZ_TEXT_BULK_STATUS 322
