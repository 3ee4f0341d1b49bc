/* The yardstick of "/u": the directory listings that the update of the seven
 * lists makes, and nothing else. For each list n from 1 to 7, the common
 * directory 0 and the numbered directory n are read through once.
 * Usage: yardstick <root> */
#include <dirent.h>
#include <stdio.h>

static long list_directory(const char* root, int number) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%d", root, number);
  DIR* directory = opendir(path);
  if (directory == NULL) return 0;
  long entries = 0;
  while (readdir(directory) != NULL) ++entries;
  closedir(directory);
  return entries;
}

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  long entries = 0;
  for (int list = 1; list <= 7; ++list) entries += list_directory(argv[1], 0) + list_directory(argv[1], list);
  return entries > 0 ? 0 : 1;
}
