/* The program of every sample: it does nothing; only its resources matter. */
int main(void) {
  return 0;
}
