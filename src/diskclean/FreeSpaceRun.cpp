// The free-space wipe run; filled in shortly.
namespace ov {
int freeSpaceRunPlaceholder() { return 0; }
} // namespace ov
