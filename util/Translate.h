// Messages in the user's language. The code holds the English texts; the
// catalogues built from po/*.po (GNU gettext, text domain "tarvex") hold their
// translations. The language is gettext's usual choice from LANGUAGE, LC_ALL,
// LC_MESSAGES and LANG, as far as the program took LC_MESSAGES from the
// environment with setlocale; a program that never did gets English.
#pragma once

#include <string>

// Marks a text for the catalogue where it is defined; Tr looks it up where
// it is used.
#define N_(Text) Text

// English in the user's language: the catalogue's text when it has one, else
// English itself. The result lives as long as the program. Tr("") is "".
const char* Tr(const char* English);

// Binds the text domain to the catalogues under Dir (Dir/LANG/LC_MESSAGES/
// tarvex.mo). Tr binds on first use to TARVEX_LOCALEDIR from the environment
// when it is set, else to the installed ones beside the program
// (BIN/../share/locale, which the build tree mirrors); calling this binds
// anew.
void BindCatalogues(const std::string& Dir);
