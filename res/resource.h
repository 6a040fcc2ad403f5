/* Identifiers shared by the resource script and the C++ sources.
   Only plain #defines, so that windres and the compiler both read this file.
   Some numbers repeat across kinds on purpose (the class-name string, the
   menu and the accelerator table are all 109; the title string and the
   About dialog are both 103): resources of different types never clash. */
#ifndef QUILLMERE_RESOURCE_H
#define QUILLMERE_RESOURCE_H

/* String table */
#define ID_STR_TITLE        103
#define ID_STR_CLASS        109

/* Main menu and its accelerator table (one id for both) */
#define ID_MENU_MAIN        109

/* Icon groups */
#define ID_ICON_MAIN        107
#define ID_ICON_SMALL       108

/* Bitmaps */
#define ID_BMP_EMBLEM       110

/* Dialog templates */
#define ID_DLG_ABOUT        103
#define ID_DLG_IMAGE_SIZE   129
#define ID_DLG_HOW_TO_USE   135

/* Commands sent by the menu and the accelerators */
#define ID_CMD_ABOUT        104
#define ID_CMD_EXIT         105
#define ID_CMD_OPEN         32771
#define ID_CMD_IMAGE_SIZE   32773
#define ID_CMD_HOW_TO_USE   32774

/* Size-choice radio buttons of the Image size dialog, in ascending order */
#define ID_SIZE_10          1001
#define ID_SIZE_25          1002
#define ID_SIZE_50          1003
#define ID_SIZE_75          1004
#define ID_SIZE_125         1005
#define ID_SIZE_150         1006

#endif /* QUILLMERE_RESOURCE_H */
