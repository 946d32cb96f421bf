#pragma once

#include <QIcon>

// The pictures of the toolbar buttons and menu items, drawn at run time so the program ships no image files.
enum class CommandPicture { Open, Save, Edit, Auto, Erase, Program, Verify, Read, Lock, Chip, Help, Exit };

QIcon commandIcon(CommandPicture picture);
// The program's own icon: a chip.
QIcon chipwrightIcon();
