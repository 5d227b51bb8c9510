#pragma once
// A profile table as Markdown for people: one table per profile, each control with what it
// does in DECK and in FILE mode (its label and its keys). README's list of built-in
// profiles is this text for the English default table.

#include <span>
#include <string>

#include "profiles/profile_record.h"
#include "profiles/table_text.h"

namespace orb::orbctl {

std::string TableMarkdown(std::span<const ProfileRecord> records, TableLanguage language);

}  // namespace orb::orbctl
