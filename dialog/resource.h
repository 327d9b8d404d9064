// Resource and control identifiers of the tag dialog. The numbers are fixed:
// hosts and tests find the controls by them.
#pragma once

#define IDD_TAGDIALOG 201

// In the host's executable, not in this module: the dialog borrows its icon.
#define IDI_HOSTICON 101

// 311-313: the check box and the two buttons.
#define IDC_HASTAG 311
#define IDC_SAVE 312
#define IDC_CLOSE 313

// 321-326: the edit controls, in the order track, title, artist, album, year,
// comment.
#define IDC_TRACK 321
#define IDC_TITLE 322
#define IDC_ARTIST 323
#define IDC_ALBUM 324
#define IDC_YEAR 325
#define IDC_COMMENT 326

// 331: the genre box.
#define IDC_GENRE 331
