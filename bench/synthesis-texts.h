// Fixed English texts of the synthesis benchmark, so that figures of
// different commits compare.
#pragma once

// About ten seconds of speech with the default voice at speed 1.
constexpr const char *kParagraph =
    "The quick brown fox jumps over the lazy dog, while the patient farmer watches from "
    "his porch. Every morning he walks to the river and listens to the birds.";

// About a minute of speech: the paragraph's story, continued.
constexpr const char *kLongText =
    "The quick brown fox jumps over the lazy dog, while the patient farmer watches from "
    "his porch. Every morning he walks to the river and listens to the birds. His barn is "
    "full of hay, and the apples are stored in wooden crates in the cellar, where the air "
    "stays cool and dry. In the afternoon his daughter comes home from the town with "
    "letters, bread and news about the neighbours. They sit together at the kitchen table "
    "and talk about the price of grain and the new bridge that the council wants to build. "
    "When the sun goes down behind the hills, the farmer lights the lamp and reads a few "
    "pages of a book about ships and distant harbours. He has never seen the sea, but he "
    "likes to imagine the waves and the salt in the wind. Later, the house grows quiet. The "
    "dog sleeps by the stove, the clock ticks on the wall, and snow begins to fall softly "
    "over the fields. Somewhere far away, a train whistles in the dark.";
