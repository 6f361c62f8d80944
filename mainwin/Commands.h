// Command numbers of the main window's menu and toolbar (sent with
// fw::WM_COMMAND_MSG), and the weights of the Autorun steps.
#pragma once

#include "framework/Messages.h"

enum : int {
    CMD_OPEN = 603,
    CMD_SAVE = 604,
    CMD_SAVEAS = 605,
    CMD_RUNREADER = 606,
    CMD_EXIT = 607,
    CMD_CONNECT = 609,
    CMD_DISCONNECT = 610,
    CMD_STOP = 611,
    CMD_AUTORUN = 612,
    CMD_GETMAIL = 613,
    CMD_GETNEW = 614,
    CMD_GETALL = 615,
    CMD_NEWGROUPS = 616,
    CMD_ALLGROUPS = 617,
    CMD_POST = 618,
    CMD_GROUPSETTINGS = 623,
    CMD_FINDGROUP = 624,
    CMD_SORTNUMBER = 626,
    CMD_SORTDATE = 627,
    CMD_SORTFROM = 628,
    CMD_SORTSUBJECT = 629,
    CMD_GETSELECTED = 630,
    CMD_FINDARTICLE = 631,
    CMD_SERVERINFO = 633,
    CMD_PERSONALINFO = 634,
    CMD_DIRECTORIES = 635,
    CMD_GROUPCONFIG = 636,
    CMD_ARTICLECONFIG = 637,
    CMD_EMAILCONFIG = 638,
    CMD_GENERALCONFIG = 639,
    CMD_AUTORUNCONFIG = 640,
    CMD_HELPCONTENTS = 642,
    CMD_HELPSEARCH = 643,
    CMD_ABOUT = 645,
    CMD_CASCADE = 751,
    CMD_TILE = 752,
    CMD_ARRANGE = 753,
    CMD_SAVEPOSITIONS = 754,
    CMD_RESTOREPOSITIONS = 755,
};

// Weights of the Autorun steps.
enum : int { AUTORUN_EMAIL = 1, AUTORUN_POST = 2, AUTORUN_NEWS = 4 };
