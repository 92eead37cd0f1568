// Anchor of the precompiled torch header shared by the libtorch areas.
