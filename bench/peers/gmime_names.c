/* Lists the attachment names of one message with GMime: parse, walk, print.
 * The parser keeps part contents as references into the file (persistent
 * stream), so nothing is decoded or copied that the listing does not need. */

#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>

static void printName(GMimeObject* parent, GMimeObject* part, gpointer unused) {
  (void)parent;
  (void)unused;
  if (!GMIME_IS_PART(part)) return;
  const char* name = g_mime_part_get_filename(GMIME_PART(part));
  if (name != NULL) puts(name);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: gmime_names FILE\n", stderr);
    return 2;
  }
  g_mime_init();
  GMimeStream* stream = g_mime_stream_fs_open(argv[1], O_RDONLY, 0, NULL);
  if (stream == NULL) {
    perror(argv[1]);
    return 1;
  }
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, NULL);
  int status = 1;
  if (message != NULL) {
    g_mime_message_foreach(message, printName, NULL);
    g_object_unref(message);
    status = 0;
  }
  g_object_unref(parser);
  g_object_unref(stream);
  g_mime_shutdown();
  return status;
}
