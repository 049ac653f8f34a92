/* The demo's boot-stage program: the installer runs it as "/bin/vemo" inside the
   "/flash" root after it applied an upgrade. It only says that it ran and what it
   found there. Built static, so that it needs nothing inside that root. */
#include <dirent.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  (void)argc;
  printf("vemo: boot stage started as \"%s\"; packages in /var/pdb:", argv[0]);
  DIR* directory = opendir("/var/pdb");
  if (directory != NULL) {
    struct dirent* entry;
    while ((entry = readdir(directory)) != NULL)
      if (entry->d_name[0] != '.') printf(" %s", entry->d_name);
    closedir(directory);
  }
  printf("\n");
  return 0;
}
