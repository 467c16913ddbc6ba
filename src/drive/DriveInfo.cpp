// The drive-information class; filled in shortly.
namespace ov {
int driveInfoPlaceholder() { return 0; }
} // namespace ov
