/* SPDX-FileCopyrightText: 2026 The VYKOSTRA developers */
/* SPDX-License-Identifier: MIT */
/* A host in C: one text item, collapsed into the file named by argv[1]. */
#include <stdio.h>
#include <string.h>

#include <vykostra.h>

int main(int argc, char **argv) {
    static PgrMsg message;
    static PgrMsgItem item;
    char text[] = "hello\r\n";
    char got[16] = {0};
    FILE *file;
    uint32_t result;

    if (argc != 2)
        return 2;
    item.Size = 8;
    item.Kind = PGRMSG_KIND_TEXT;
    item.Text = text;
    message.Head140 = &item;
    result = VYKPgrMsgCollapse(&message, argv[1]);
    file = fopen(argv[1], "rb");
    if (file != NULL) {
        fread(got, 1, sizeof got - 1, file);
        fclose(file);
    }
    printf("result 0x%08lX, file \"%s\"\n", (unsigned long)result, got);
    return result == PGRMSG_OK && strcmp(got, "hello  ") == 0 ? 0 : 1;
}
