// The version each stub carries as plain text, where `kvsfx info` finds it
// in a self-extractor's bytes ahead of the metadata block.
#ifndef KV_STUB_VERSION_H
#define KV_STUB_VERSION_H

#define KV_STUB_VERSION_MARKER "kvsfx-stub version "

#endif
