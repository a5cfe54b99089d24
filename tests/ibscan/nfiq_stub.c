/* Stand-in for the NFIQ quality library in the ibscan tests: scores by width, refuses
 * images narrower than 32 pixels. */
int GBNFIQ_GetImageQuality(const unsigned char* pixels, int w, int h, int* score, int reserved) {
    (void)reserved;
    if (!pixels || !score || w < 32 || h < 1)
        return -1;
    *score = w % 5 + 1;
    return 0;
}
